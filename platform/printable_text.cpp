#include "platform/printable_text.h"

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

bool isControlByte(unsigned char byte) {
    return byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
}

// U+0080-U+009F, encoded C2 80-C2 9F.
bool isUtf8C1(std::string_view character) {
    return character.size() == 2 && byteAt(character, 0) == 0xC2 && byteAt(character, 1) <= 0x9F;
}

void appendEscaped(std::string& out, std::string_view bytes) {
    constexpr char digits[] = "0123456789abcdef";
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += {'\\', 'x', digits[byte >> 4], digits[byte & 0x0F]};
    }
}

// Printable ASCII at the start of `text`: it goes over as it is, a run at a time.
std::size_t plainAsciiLength(std::string_view text) {
    std::size_t length = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte > 0x7E) {
            break;
        }
        ++length;
    }
    return length;
}

}  // namespace

std::string printableText(std::string_view text) {
    std::string printable;
    printable.reserve(text.size());
    while (!text.empty()) {
        const std::size_t plain = plainAsciiLength(text);
        printable.append(text.data(), plain);
        text.remove_prefix(plain);
        if (text.empty()) {
            break;
        }
        const std::size_t length = utf8CharacterLength(text);
        const std::string_view character = text.substr(0, length == 0 ? 1 : length);
        if (isUtf8C1(character) || (length == 0 && isControlByte(byteAt(character, 0)))) {
            appendEscaped(printable, character);
        } else {
            printable += character;
        }
        text.remove_prefix(character.size());
    }
    return printable;
}

}  // namespace pellvane
