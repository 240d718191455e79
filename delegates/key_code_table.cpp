#include "delegates/key_code_table.h"

#include <algorithm>

namespace pellvane::keys {
namespace {

constexpr std::uint16_t nk = noVirtualKey;  // no key at this position

constexpr std::array<std::uint16_t, 23> extendedKeys = {
    0x03, 0x0C, 0x13, 0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28, 0x2C,
    0x2D, 0x2E, 0x5B, 0x5C, 0x6C, 0x6F, 0xA3, 0xA5, 0xAD, 0xAE, 0xAF,
};

// Pause, Print, Print Screen and the volume keys have no scan code that reaches the
// system as the key itself.
constexpr std::array<std::uint16_t, 6> virtualKeyOnly = {0x13, 0x2A, 0x2C, 0xAD, 0xAE, 0xAF};

}  // namespace

// Positions 0-126 follow the macOS key numbering, 127-134 are PC keys. Some values are
// not the usual code of the key at that position (24, 30, 33, 42, 43, 54, 63); the pad
// client has always been answered with exactly these, so they stay.
const std::array<std::uint16_t, keyCodeTableSize> keyCodeTable = {
    0x41, 0x53, 0x44, 0x46, 0x48, 0x47, 0x5A, 0x58,                      //   0-7
    0x43, 0x56, nk,   0x42, 0x51, 0x57, 0x45, 0x52,                      //   8-15
    0x59, 0x54, 0x31, 0x32, 0x33, 0x34, 0x36, 0x35,                      //  16-23
    0x3D, 0x39, 0x37, 0xBD, 0x38, 0x30, 0x29, 0x4F,                      //  24-31
    0x55, 0x28, 0x49, 0x50, 0x0D, 0x4C, 0x4A, 0xDE,                      //  32-39
    0x4B, 0xBA, 0xDE, 0x2C, 0xBF, 0x4E, 0x4D, 0xBE,                      //  40-47
    0x09, 0x20, 0xC0, 0x08, nk,   0x1B, 0x36, 0xA2,                      //  48-55
    0xA0, 0x14, 0xA4, 0xA2, 0xA1, 0xA5, 0xA3, 0xFF,                      //  56-63
    0x80, 0x6E, nk,   0x6A, nk,   0x6B, nk,   0x0C,                      //  64-71
    0xAF, 0xAE, 0xAD, 0x6F, 0x6C, nk,   0x6D, 0x81,                      //  72-79
    0x82, 0x92, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65,                      //  80-87
    0x66, 0x67, 0x83, 0x68, 0x69, nk,   nk,   0xBC,                      //  88-95
    0x74, 0x75, 0x76, 0x72, 0x77, 0x78, nk,   0x7A,                      //  96-103
    nk,   0x7C, 0x7F, 0x7D, nk,   0x79, nk,   0x7B,                      // 104-111
    nk,   0x7E, 0x2D, 0x24, 0x21, 0x2E, 0x73, 0x23,                      // 112-119
    0x71, 0x22, 0x70, 0x25, 0x27, 0x28, 0x26, 0x5B,                      // 120-127
    0x5C, 0x2C, 0x2A, 0x13, 0x03, 0x90, 0x91,                            // 128-134
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 135-147
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 148-160
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 161-173
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 174-186
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 187-199
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 200-212
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 213-225
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 226-238
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk, nk, nk,  // 239-251
    nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk,   nk, nk, nk,          // 252-262
};

std::optional<std::uint16_t> virtualKeyAt(std::uint32_t keyIndex) {
    if (keyIndex >= keyCodeTable.size()) {
        return std::nullopt;
    }
    return keyCodeTable[keyIndex];
}

bool isExtendedKey(std::uint32_t virtualKey) {
    return std::find(extendedKeys.begin(), extendedKeys.end(), virtualKey) != extendedKeys.end();
}

bool isSentAsVirtualKey(std::uint32_t virtualKey) {
    return std::find(virtualKeyOnly.begin(), virtualKeyOnly.end(), virtualKey) !=
           virtualKeyOnly.end();
}

}  // namespace pellvane::keys
