#include "controller/gamepad_events.h"

namespace pellvane::gamepad {
namespace {

// The signed 32-bit range as floats: -2^31 is exact, and every float below 2^31 fits.
constexpr float int32Low = -2147483648.0f;
constexpr float int32End = 2147483648.0f;

void applyAxes(const wire::GamepadEventBody& event, ControllerState& state) {
    for (const wire::GamepadPair& pair : event.pairs) {
        if (pair.id < axisSlotTable.size()) {
            state.bytes[axisSlotTable[pair.id]] = axisByte(pair.value);
        }
    }
}

}  // namespace

std::uint8_t axisByte(float value) {
    const float product = value * 255.0f;
    // Converting a float outside the target range is undefined, so the range is checked
    // first; a NaN fails both comparisons.
    if (!(product >= int32Low && product < int32End)) {
        return 0;
    }
    const auto truncated = static_cast<std::int32_t>(product);
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(truncated) & 0xFF);
}

bool isPressedValue(float value) {
    return value > 0.0f;
}

EventOutcome applyGamepadEvent(const wire::GamepadEventBody& event, ControllerState& state) {
    if (event.pairs.empty()) {
        return EventOutcome::dropped;
    }
    if (event.kind == wire::gamepadAxes) {
        applyAxes(event, state);
        return EventOutcome::report;
    }
    if (event.kind == wire::gamepadButton) {
        const wire::GamepadPair& pair = event.pairs.front();
        if (pair.id >= wire::buttonLimit) {
            return EventOutcome::dropped;
        }
        setButton(state, pair.id, isPressedValue(pair.value));
        return EventOutcome::report;
    }
    return EventOutcome::dropped;
}

}  // namespace pellvane::gamepad
