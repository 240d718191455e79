#include "controller/xusb_report.h"

#include <algorithm>
#include <array>

#include "controller/gamepad_events.h"

namespace pellvane::xusb {
namespace {

// Pad button index -> report bit; 0 where XInput has no such button (2 and 5, the digital
// triggers 8 and 9, and 19).
constexpr std::array<std::uint16_t, ControllerState::buttonCount> buttonBits = {
    a,    b,     0,     x,         y,          0,        leftShoulder, rightShoulder, 0,        0,
    back, start, guide, leftThumb, rightThumb, dpadLeft, dpadRight,    dpadUp,        dpadDown, 0,
};

// The hat field (0 north, clockwise to 7 north-west; 8 and above centred) as D-pad bits.
constexpr std::array<std::uint16_t, 8> hatBits = {
    dpadUp,   dpadUp | dpadRight,  dpadRight, dpadDown | dpadRight,
    dpadDown, dpadDown | dpadLeft, dpadLeft,  dpadUp | dpadLeft,
};

constexpr int slotCentre = ControllerState::axisRest;

std::uint16_t buttonsFor(const ControllerState& state) {
    std::uint16_t buttons = 0;
    for (std::uint32_t button = 0; button < ControllerState::buttonCount; ++button) {
        if (isButtonSet(state, button)) {
            buttons |= buttonBits[button];
        }
    }
    const std::uint8_t hat = hatField(state);
    if (hat < hatBits.size()) {
        buttons |= hatBits[hat];
    }
    return buttons;
}

}  // namespace

// 127 slot steps below the centre reach -32768 and 128 above it reach 32767, so both ends
// of the slot's range are both ends of XInput's.
std::int16_t stickAxis(std::uint8_t slot) {
    const int offset = slot - slotCentre;
    const int axis = offset < 0 ? offset * 32768 / slotCentre : offset * 32767 / (255 - slotCentre);
    return static_cast<std::int16_t>(axis);
}

// Negating -32768 leaves the 16-bit range: the top of the slot range gives 32767.
std::int16_t invertedStickAxis(std::uint8_t slot) {
    return static_cast<std::int16_t>(std::min(-static_cast<int>(stickAxis(slot)), 32767));
}

TriggerWrites noteTriggerWrites(const wire::GamepadEventBody& event, TriggerWrites written) {
    if (event.kind != wire::gamepadAxes) {
        return written;
    }
    for (const wire::GamepadPair& pair : event.pairs) {
        if (pair.id >= gamepad::axisSlotTable.size()) {
            continue;
        }
        const std::size_t slot = gamepad::axisSlotTable[pair.id];
        written.left = written.left || slot == leftTriggerSlot;
        written.right = written.right || slot == rightTriggerSlot;
    }
    return written;
}

Report reportFor(const ControllerState& state, TriggerWrites written) {
    const auto& slots = state.bytes;
    Report report;
    report.buttons = buttonsFor(state);
    report.leftTrigger = written.left ? slots[leftTriggerSlot] : 0;
    report.rightTrigger = written.right ? slots[rightTriggerSlot] : 0;
    report.thumbLX = stickAxis(slots[leftStickXSlot]);
    report.thumbLY = invertedStickAxis(slots[leftStickYSlot]);
    report.thumbRX = stickAxis(slots[rightStickXSlot]);
    report.thumbRY = invertedStickAxis(slots[rightStickYSlot]);
    return report;
}

}  // namespace pellvane::xusb
