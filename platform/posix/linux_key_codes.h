// The Linux key codes (KEY_*) of the keys that keyboard records name: by set-1 scan code for
// scan-code records, by virtual key for the few keys sent as virtual keys.
#pragma once

#include <cstdint>
#include <vector>

namespace pellvane::keyboard {

// `extended`: the code follows an E0 prefix. 0 (KEY_RESERVED) when Linux has no such key.
std::uint16_t linuxKeyForScanCode(std::uint32_t scanCode, bool extended);
// 0 for a virtual key that is not sent as one.
std::uint16_t linuxKeyForVirtualKey(std::uint32_t virtualKey);

// Every code that the two lookups give, once each: what the virtual keyboard announces.
std::vector<std::uint16_t> linuxKeysInUse();

}  // namespace pellvane::keyboard
