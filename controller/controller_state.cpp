#include "controller/controller_state.h"

#include <algorithm>

namespace pellvane {
namespace {

constexpr std::uint32_t firstButtonBit = 4;

std::size_t buttonByte(std::uint32_t button) {
    return ControllerState::hatAndButtonsByte + (button + firstButtonBit) / 8;
}

std::uint8_t buttonMask(std::uint32_t button) {
    return static_cast<std::uint8_t>(1u << ((button + firstButtonBit) % 8));
}

}  // namespace

void resetControllerState(ControllerState* state) {
    if (state == nullptr) {
        return;
    }
    state->bytes.fill(0);
    std::fill_n(state->bytes.begin(), ControllerState::axisSlotCount, ControllerState::axisRest);
    state->bytes[ControllerState::hatAndButtonsByte] = ControllerState::hatRest;
}

void setButton(ControllerState& state, std::uint32_t button, bool pressed) {
    if (button >= ControllerState::buttonCount) {
        return;
    }
    std::uint8_t& byte = state.bytes[buttonByte(button)];
    if (pressed) {
        byte = static_cast<std::uint8_t>(byte | buttonMask(button));
    } else {
        byte = static_cast<std::uint8_t>(byte & ~buttonMask(button));
    }
}

ControllerState restControllerState() {
    ControllerState state;
    resetControllerState(&state);
    return state;
}

bool isButtonSet(const ControllerState& state, std::uint32_t button) {
    return button < ControllerState::buttonCount &&
           (state.bytes[buttonByte(button)] & buttonMask(button)) != 0;
}

std::uint8_t hatField(const ControllerState& state) {
    return state.bytes[ControllerState::hatAndButtonsByte] & 0x0F;
}

}  // namespace pellvane
