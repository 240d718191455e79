// Text handed to desktop programs, which take UTF-8 only: wide text converted, and 8-bit
// text that is not UTF-8 mended, so that a stray byte cannot make a program refuse it.
#pragma once

#include <string>
#include <string_view>

namespace pellvane::posix {

inline constexpr char32_t replacementCharacter = 0xFFFD;

// Each wide character as UTF-8; a surrogate or a value past U+10FFFF becomes U+FFFD.
std::string utf8FromWide(const wchar_t* text);
// `text` with each byte that does not belong to a well-formed UTF-8 sequence (overlong
// forms and encoded surrogates included) replaced by U+FFFD.
std::string validUtf8(std::string_view text);

}  // namespace pellvane::posix
