// The messages a pad or channel client sends: key entries, gamepad values, the wanted
// application and channel events, laid out field by field as the server reads them.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "server/wire_protocol.h"

namespace pellvane::tool {

// Marks an absent character or key position in a key entry.
inline constexpr std::uint32_t noKey = 0xFFFFFFFF;
inline constexpr std::size_t keyEntrySize = 12;
// Key positions the server's key table knows.
inline constexpr std::uint32_t keyIndexLimit = 263;
// Gamepad ids the server maps: axes 0 to 13, buttons 0 to 19.
inline constexpr std::uint32_t axisIdLimit = 14;
inline constexpr std::uint32_t buttonLimit = 20;
inline constexpr std::uint32_t gamepadAxes = 1;
inline constexpr std::uint32_t gamepadButton = 2;

struct KeyEntry {
    std::uint32_t character = noKey;  // a UTF-16 code unit
    std::uint32_t keyIndex = noKey;   // wins over the character when present
};

struct AxisValue {
    std::uint32_t id = 0;
    float value = 0.0f;
};

// KeyDown or KeyUp: the header argument counts the entries.
Message buildKeyMessage(std::uint32_t type, std::span<const KeyEntry> entries);
// One GamepadEvent carrying all the axis pairs.
Message buildGamepadAxes(std::span<const AxisValue> axes);
// One GamepadEvent for one button: 1.0 pressed, 0.0 released.
Message buildGamepadButton(std::uint32_t button, bool pressed);
// AppName naming the application a layout is meant for; the name must fit in 127 bytes.
Message buildWantedApp(std::string_view name);
// ChannelEvent with an opaque body; the argument carries the body length.
Message buildChannelEvent(std::span<const std::uint8_t> body);

}  // namespace pellvane::tool
