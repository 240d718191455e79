#include "delegates/gamepad_events.h"

#include <cmath>

#include "server/wire_protocol.h"

namespace pellvane::gamepad {
namespace {

constexpr std::uint32_t highestButton = ControllerState::buttonCount - 1;
// The signed 32-bit range as floats: -2^31 is exact, and every float below 2^31 fits.
constexpr float int32Low = -2147483648.0f;
constexpr float int32End = 2147483648.0f;

struct Pair {
    std::uint32_t id = 0;
    float value = 0.0f;
};

Pair readPair(std::span<const std::uint8_t> message, std::uint32_t index) {
    const std::size_t offset = firstPairOffset + pairSize * index;
    return {wire::readU32(message, offset), wire::readF32(message, offset + 4)};
}

bool pairsFit(std::span<const std::uint8_t> message, std::uint32_t pairCount) {
    if (message.size() < firstPairOffset) {
        return false;
    }
    return pairCount <= (message.size() - firstPairOffset) / pairSize;
}

void applyAxes(std::span<const std::uint8_t> message, std::uint32_t pairCount,
               ControllerState& state) {
    for (std::uint32_t index = 0; index < pairCount; ++index) {
        const Pair pair = readPair(message, index);
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

EventOutcome applyGamepadEvent(std::span<const std::uint8_t> message, ControllerState& state) {
    if (message.size() < firstPairOffset) {
        return EventOutcome::dropped;
    }
    const std::uint32_t kind = wire::readU32(message, kindOffset);
    const std::uint32_t pairCount = wire::readU32(message, pairCountOffset);
    if (pairCount == 0 || !pairsFit(message, pairCount)) {
        return EventOutcome::dropped;
    }
    if (kind == kindAxes) {
        applyAxes(message, pairCount, state);
        return EventOutcome::report;
    }
    if (kind == kindButton) {
        const Pair pair = readPair(message, 0);
        if (pair.id > highestButton) {
            return EventOutcome::dropped;
        }
        setButton(state, pair.id, isPressedValue(pair.value));
        return EventOutcome::report;
    }
    return EventOutcome::dropped;
}

}  // namespace pellvane::gamepad
