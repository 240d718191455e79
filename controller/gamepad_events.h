// GamepadEvent messages (type 8): how their axis groups and button states change the
// controller state. Pure functions; the caller writes the report that follows.
#pragma once

#include <array>
#include <cstdint>

#include "controller/controller_state.h"
#include "server/wire_protocol.h"

namespace pellvane::gamepad {

// Axis id -> state slot: an even id 2k is slot 7 + k, an odd id 2k + 1 slot k.
inline constexpr std::array<std::uint8_t, ControllerState::axisSlotCount> axisSlotTable = {
    7, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6};
static_assert(axisSlotTable.size() == wire::axisIdLimit, "every axis id a pad may send has a slot");
static_assert(ControllerState::buttonCount == wire::buttonLimit,
              "every button a pad may send has a bit");

// The low 8 bits of value × 255 (single precision) truncated toward zero; 0 for a NaN or a
// product outside the signed 32-bit range.
std::uint8_t axisByte(float value);
// Strictly above zero: 0.0, -0.0, negatives and NaN are released.
bool isPressedValue(float value);

enum class EventOutcome {
    report,   // the state took the event (possibly unchanged): one report is due
    dropped,  // nothing changed and no report follows
};

// Kind 1 moves every pair's axis (ids past the table are skipped); kind 2 sets or clears the
// button of pair 0 (an index past the buttons drops the event); any other kind is dropped.
EventOutcome applyGamepadEvent(const wire::GamepadEventBody& event, ControllerState& state);

}  // namespace pellvane::gamepad
