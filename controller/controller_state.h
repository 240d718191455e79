// The 17 bytes that describe every axis and button of the virtual controller, and their
// rest position.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace pellvane {

struct ControllerState {
    static constexpr std::size_t size = 17;
    static constexpr std::size_t axisSlotCount = 14;
    // Bytes 14-16 read as one little-endian 24-bit value: the hat field in bits 0-3, button n
    // in bit n + 4.
    static constexpr std::size_t hatAndButtonsByte = 14;
    static constexpr std::uint32_t buttonCount = 20;
    static constexpr std::uint8_t axisRest = 127;
    // A centred hat: nothing in the system moves it.
    static constexpr std::uint8_t hatRest = 8;

    std::array<std::uint8_t, size> bytes{};
    friend bool operator==(const ControllerState&, const ControllerState&) = default;
};

// Axes at 127, hat at 8, every button released. A null state is left alone.
void resetControllerState(ControllerState* state);
// A state in that rest position.
ControllerState restControllerState();

// `button` must be below ControllerState::buttonCount; other indices are ignored.
void setButton(ControllerState& state, std::uint32_t button, bool pressed);
bool isButtonSet(const ControllerState& state, std::uint32_t button);
std::uint8_t hatField(const ControllerState& state);

}  // namespace pellvane
