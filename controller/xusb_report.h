// The controller state as an Xbox 360 controller's report (XInput's XINPUT_GAMEPAD): the
// same meaning that pellvane-vpad gives the state on Linux, in the places XInput has.
#pragma once

#include <cstdint>

#include "controller/controller_state.h"
#include "server/wire_protocol.h"

namespace pellvane::xusb {

// The button bits of the report.
inline constexpr std::uint16_t dpadUp = 0x0001;
inline constexpr std::uint16_t dpadDown = 0x0002;
inline constexpr std::uint16_t dpadLeft = 0x0004;
inline constexpr std::uint16_t dpadRight = 0x0008;
inline constexpr std::uint16_t start = 0x0010;
inline constexpr std::uint16_t back = 0x0020;
inline constexpr std::uint16_t leftThumb = 0x0040;
inline constexpr std::uint16_t rightThumb = 0x0080;
inline constexpr std::uint16_t leftShoulder = 0x0100;
inline constexpr std::uint16_t rightShoulder = 0x0200;
inline constexpr std::uint16_t guide = 0x0400;
inline constexpr std::uint16_t a = 0x1000;
inline constexpr std::uint16_t b = 0x2000;
inline constexpr std::uint16_t x = 0x4000;
inline constexpr std::uint16_t y = 0x8000;

// The state slots that XInput has a place for (pad axes 0-5).
inline constexpr std::size_t leftStickXSlot = 7;
inline constexpr std::size_t leftStickYSlot = 0;
inline constexpr std::size_t rightStickXSlot = 8;
inline constexpr std::size_t rightStickYSlot = 1;
inline constexpr std::size_t leftTriggerSlot = 9;
inline constexpr std::size_t rightTriggerSlot = 2;

struct Report {
    std::uint16_t buttons = 0;
    std::uint8_t leftTrigger = 0;
    std::uint8_t rightTrigger = 0;
    std::int16_t thumbLX = 0;
    std::int16_t thumbLY = 0;
    std::int16_t thumbRX = 0;
    std::int16_t thumbRY = 0;
    friend bool operator==(const Report&, const Report&) = default;
};

// Whether an event has written a trigger's slot since the state was last put at rest: a
// slot at its rest value 127 would be a half-pressed trigger to XInput, so until a pad
// moves a trigger it reads 0.
struct TriggerWrites {
    bool left = false;
    bool right = false;
    friend bool operator==(const TriggerWrites&, const TriggerWrites&) = default;
};

// A stick slot (0-255, 127 the centre) as an XInput axis (-32768..32767, 0 the centre).
std::int16_t stickAxis(std::uint8_t slot);
// The same for a Y slot: HID's Y grows downwards, XInput's upwards.
std::int16_t invertedStickAxis(std::uint8_t slot);

// `written` with the triggers that an accepted axes event writes added.
TriggerWrites noteTriggerWrites(const wire::GamepadEventBody& event, TriggerWrites written);

// The report for a state. The rest state (with no trigger written) is all zeros.
Report reportFor(const ControllerState& state, TriggerWrites written);

}  // namespace pellvane::xusb
