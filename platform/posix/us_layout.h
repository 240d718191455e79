// The answers of the Windows US layout (kbdus): which key and shift state type a character,
// and the set-1 scan code of a virtual key. The Linux program types as on a US keyboard.
#pragma once

#include <cstdint>

#include "platform/keyboard.h"

namespace pellvane::keyboard {

inline constexpr LayoutHandle usLayout = 0x04090409;
inline constexpr std::uint16_t shiftState = 0x100;
inline constexpr std::uint16_t controlState = 0x200;
inline constexpr std::uint16_t altState = 0x400;

// Low byte the virtual key, high byte the shift state; noKeyForCharacter when no key types
// it. The keypad is never the answer, as on Windows.
std::uint16_t usKeyForCharacter(char16_t character);
// The scan code without its E0 prefix; 0 when the key has none.
std::uint32_t usScanCodeForKey(std::uint32_t virtualKey);

}  // namespace pellvane::keyboard
