// GamepadEvent messages (type 8): how their axis groups and button states change the
// controller state. Pure functions; the caller writes the report that follows.
//
// Body, little-endian: kind u32 at 12 (1 axes, 2 button), pairCount u32 at 16, then pairs
// of id u32 and value f32 from 20 on.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "controller/controller_state.h"

namespace pellvane::gamepad {

inline constexpr std::uint32_t kindAxes = 1;
inline constexpr std::uint32_t kindButton = 2;
inline constexpr std::size_t kindOffset = 12;
inline constexpr std::size_t pairCountOffset = 16;
inline constexpr std::size_t firstPairOffset = 20;
inline constexpr std::size_t pairSize = 8;

// Axis id -> state slot: an even id 2k is slot 7 + k, an odd id 2k + 1 slot k.
inline constexpr std::array<std::uint8_t, ControllerState::axisSlotCount> axisSlotTable = {
    7, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6};

// The low 8 bits of value × 255 (single precision) truncated toward zero; 0 for a NaN or a
// product outside the signed 32-bit range.
std::uint8_t axisByte(float value);
// Strictly above zero: 0.0, -0.0, negatives and NaN are released.
bool isPressedValue(float value);

enum class EventOutcome {
    report,   // the state took the event (possibly unchanged): one report is due
    dropped,  // nothing changed and no report follows
};

// A message whose pairs do not all lie inside it is dropped whole, a button message shorter
// than 28 bytes included: a half-read axis group would move some axes of a gesture and not
// others.
EventOutcome applyGamepadEvent(std::span<const std::uint8_t> message, ControllerState& state);

}  // namespace pellvane::gamepad
