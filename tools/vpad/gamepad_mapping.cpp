#include "tools/vpad/gamepad_mapping.h"

#include <linux/input.h>

#include "controller/controller_discovery.h"
#include "controller/output_report.h"

namespace pellvane::vpad {
namespace {

using input::InputEvent;

// The pad's axes come in pairs: axis 2k lands in slot 7 + k, axis 2k + 1 in slot k. Each
// pair becomes an X and a Y: the sticks, then the triggers (as the kernel's gamepad drivers
// report them), then the rest. The kernel numbers a HID device's axes beyond its named
// ones from ABS_MISC on, and so does this.
constexpr std::uint16_t absMisc1 = ABS_MISC + 1;
constexpr std::uint16_t absMisc2 = ABS_MISC + 2;

// A hat position 0-7 (north, then clockwise) as X and Y; anything else is the centre.
constexpr std::int8_t hatX[8] = {0, 1, 1, 1, 0, -1, -1, -1};
constexpr std::int8_t hatY[8] = {-1, -1, 0, 1, 1, 1, 0, -1};

std::int32_t hatAxis(const ControllerState& state, const std::int8_t (&axis)[8]) {
    const std::uint8_t position = hatField(state);
    return position < 8 ? axis[position] : 0;
}

}  // namespace

const std::array<std::uint16_t, ControllerState::axisSlotCount> axisSlotCodes = {
    ABS_Y, ABS_RY, ABS_RZ, ABS_RUDDER,   ABS_GAS,   ABS_MISC,  absMisc2,  // slots 0-6
    ABS_X, ABS_RX, ABS_Z,  ABS_THROTTLE, ABS_WHEEL, ABS_BRAKE, absMisc1,  // slots 7-13
};

// The gamepad buttons in the kernel's order (BTN_SOUTH ... BTN_THUMBR), then the range the
// kernel gives a HID gamepad's further buttons.
const std::array<std::uint16_t, ControllerState::buttonCount> buttonCodes = {
    BTN_SOUTH,
    BTN_EAST,
    BTN_C,
    BTN_NORTH,
    BTN_WEST,
    BTN_Z,
    BTN_TL,
    BTN_TR,
    BTN_TL2,
    BTN_TR2,
    BTN_SELECT,
    BTN_START,
    BTN_MODE,
    BTN_THUMBL,
    BTN_THUMBR,
    BTN_TRIGGER_HAPPY1,
    BTN_TRIGGER_HAPPY2,
    BTN_TRIGGER_HAPPY3,
    BTN_TRIGGER_HAPPY4,
    BTN_TRIGGER_HAPPY5,
};

input::UinputDeviceSpec gamepadSpec() {
    input::UinputDeviceSpec spec;
    spec.name = "Pellvane Virtual Controller";
    spec.bus = BUS_VIRTUAL;
    spec.vendor = controllerVendorId;
    spec.product = controllerProductId;
    spec.keys.assign(buttonCodes.begin(), buttonCodes.end());
    for (const std::uint16_t code : axisSlotCodes) {
        spec.axes.push_back({code, 0, 255, ControllerState::axisRest});
    }
    spec.axes.push_back({ABS_HAT0X, -1, 1, 0});
    spec.axes.push_back({ABS_HAT0Y, -1, 1, 0});
    return spec;
}

std::optional<ControllerState> stateFromReport(std::span<const std::uint8_t> report) {
    if (report.size() < reportStateOffset + ControllerState::size || report[0] != reportIdByte ||
        report[1] < reportLengthByte || report[2] != reportKindByte) {
        return std::nullopt;
    }
    ControllerState state;
    const auto bytes = report.subspan(reportStateOffset, ControllerState::size);
    std::copy(bytes.begin(), bytes.end(), state.bytes.begin());
    return state;
}

std::vector<InputEvent> gamepadEvents(const ControllerState& before, const ControllerState& after) {
    std::vector<InputEvent> events;
    for (std::size_t slot = 0; slot < ControllerState::axisSlotCount; ++slot) {
        if (before.bytes[slot] != after.bytes[slot]) {
            events.push_back({EV_ABS, axisSlotCodes[slot], after.bytes[slot]});
        }
    }
    for (const auto& [code, axis] : {std::pair{ABS_HAT0X, &hatX}, std::pair{ABS_HAT0Y, &hatY}}) {
        const std::int32_t value = hatAxis(after, *axis);
        if (value != hatAxis(before, *axis)) {
            events.push_back({EV_ABS, static_cast<std::uint16_t>(code), value});
        }
    }
    for (std::uint32_t button = 0; button < ControllerState::buttonCount; ++button) {
        if (isButtonSet(before, button) != isButtonSet(after, button)) {
            events.push_back({EV_KEY, buttonCodes[button], isButtonSet(after, button) ? 1 : 0});
        }
    }
    if (!events.empty()) {
        events.push_back({EV_SYN, SYN_REPORT, 0});
    }
    return events;
}

}  // namespace pellvane::vpad
