#include "platform/printable_text.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace pellvane {
namespace {

unsigned char byteAt(std::string_view text, std::size_t index) {
    return static_cast<unsigned char>(text[index]);
}

// The length of the well-formed UTF-8 character that starts `text` (Unicode's table of
// well-formed byte sequences: no overlong forms, no surrogates), or 0.
std::size_t utf8CharacterLength(std::string_view text) {
    const unsigned char lead = byteAt(text, 0);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    }
    if (length == 0 || text.size() < length || byteAt(text, 1) < low || byteAt(text, 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byteAt(text, i) < 0x80 || byteAt(text, i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

// What a byte is at the start of a character. A table, so that the common case (a run of
// bytes that go over as they are) costs one look-up per byte.
enum class ByteKind : std::uint8_t { plain, control, utf8Lead };

constexpr std::array<ByteKind, 256> byteKinds = [] {
    std::array<ByteKind, 256> kinds{};
    for (std::size_t byte = 0; byte < kinds.size(); ++byte) {
        if (byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F)) {
            kinds[byte] = ByteKind::control;  // C0, DEL and bare C1
        } else if (byte >= 0xC2 && byte <= 0xF4) {
            kinds[byte] = ByteKind::utf8Lead;
        }
    }
    return kinds;
}();

// The control character at the front of `text`, in bytes: 1 for C0, DEL or a bare C1 byte,
// 2 for a UTF-8 encoded C1 (U+0080-U+009F, C2 80-C2 9F), 0 when the front is no control
// character; `character` is then the length of the character that goes over unchanged (a
// stray or unfinished UTF-8 byte goes alone).
std::size_t controlLength(std::string_view text, std::size_t& character) {
    character = 1;
    switch (byteKinds[byteAt(text, 0)]) {
        case ByteKind::plain:
            return 0;
        case ByteKind::control:
            return 1;
        case ByteKind::utf8Lead:
            break;
    }
    const std::size_t length = utf8CharacterLength(text);
    if (length == 2 && byteAt(text, 0) == 0xC2 && byteAt(text, 1) <= 0x9F) {
        return 2;
    }
    character = std::max<std::size_t>(length, 1);
    return 0;
}

void appendEscaped(std::string& out, std::string_view bytes) {
    constexpr char digits[] = "0123456789abcdef";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += {'\\', 'x', digits[byte >> 4], digits[byte & 0x0F]};
    }
}

}  // namespace

// Bytes that go over unchanged are copied a run at a time, up to the next control character.
void appendPrintableText(std::string& out, std::string_view text) {
    std::string_view rest = text;  // what is still to be looked at
    std::size_t runStart = 0;      // the first byte of `text` not yet copied
    while (!rest.empty()) {
        std::size_t character = 0;
        const std::size_t control = controlLength(rest, character);
        if (control == 0) {
            rest.remove_prefix(character);
            continue;
        }
        const std::size_t position = text.size() - rest.size();
        out.append(text, runStart, position - runStart);
        appendEscaped(out, rest.substr(0, control));
        rest.remove_prefix(control);
        runStart = position + control;
    }
    out.append(text, runStart);
}

std::string printableText(std::string_view text) {
    std::string printable;
    printable.reserve(text.size());
    appendPrintableText(printable, text);
    return printable;
}

}  // namespace pellvane
