// Text conversions between the command line and the wire: key entries carry UTF-16 code
// units, while the tool takes its arguments as UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pellvane::tool {

// The UTF-16 code units of each character of UTF-8 text, one group per character (two
// units for a character outside the Basic Multilingual Plane); nothing when the text is not
// valid UTF-8.
std::optional<std::vector<std::u16string>> utf16CharactersFromUtf8(std::string_view text);

// UTF-16 text (a Windows command line) as UTF-8; nothing for an unpaired surrogate.
std::optional<std::string> utf8FromUtf16(std::u16string_view text);

}  // namespace pellvane::tool
