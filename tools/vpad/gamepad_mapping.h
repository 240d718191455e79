// How the controller's 17 state bytes appear to games: a uinput game controller with 14
// axes, 20 buttons and a hat, and the events that move it from one state to the next.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "controller/controller_state.h"
#include "platform/posix/input_events.h"
#include "platform/posix/uinput_device.h"

namespace pellvane::vpad {

// The ABS_* code of each axis slot (0-13).
extern const std::array<std::uint16_t, ControllerState::axisSlotCount> axisSlotCodes;
// The BTN_* code of each button (0-19).
extern const std::array<std::uint16_t, ControllerState::buttonCount> buttonCodes;

// The game controller, its axes and hat at the rest position.
input::UinputDeviceSpec gamepadSpec();

// The state that a state report carries (report ID 0x40, kind 0x02, the 17 bytes from
// byte 3); nothing for any other report or one too short to hold them.
std::optional<ControllerState> stateFromReport(std::span<const std::uint8_t> report);

// The events that move the game controller from `before` to `after`, closed by SYN_REPORT;
// empty when nothing changed.
std::vector<input::InputEvent> gamepadEvents(const ControllerState& before,
                                             const ControllerState& after);

}  // namespace pellvane::vpad
