#include "delegates/gamepad_events.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/controller/gamepad_message.h"

namespace pellvane::gamepad {
namespace {

using testing::axesMessage;
using testing::buttonMessage;
using testing::gamepadMessage;

ControllerState restState() {
    ControllerState state;
    resetControllerState(&state);
    return state;
}

TEST(AxisConversion, TruncatesTheSinglePrecisionProductAndKeepsTheLowByte) {
    EXPECT_EQ(axisByte(0.0f), 0);
    EXPECT_EQ(axisByte(0.5f), 127);
    EXPECT_EQ(axisByte(1.0f), 255);
    EXPECT_EQ(axisByte(1.5f), 126);
    EXPECT_EQ(axisByte(-0.5f), 129);
    EXPECT_EQ(axisByte(-0.0f), 0);
    // 0.999 × 255 = 254.745: toward zero, not to nearest.
    EXPECT_EQ(axisByte(0.999f), 254);
}

TEST(AxisConversion, NanAndProductsOutsideTheInt32RangeGiveZero) {
    EXPECT_EQ(axisByte(std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(axisByte(-std::numeric_limits<float>::quiet_NaN()), 0);
    EXPECT_EQ(axisByte(1e10f), 0);
    EXPECT_EQ(axisByte(-1e10f), 0);
    EXPECT_EQ(axisByte(std::numeric_limits<float>::infinity()), 0);
    EXPECT_EQ(axisByte(-std::numeric_limits<float>::infinity()), 0);
    // The last product inside the range is 2^31 - 128 (low byte 0x80);
    // 8421505 × 255 rounds to 2^31, which is outside.
    EXPECT_EQ(axisByte(8421504.0f), 0x80);
    EXPECT_EQ(axisByte(-8421504.0f), 0x80);
    EXPECT_EQ(axisByte(8421505.0f), 0);
}

TEST(ButtonTest, OnlyStrictlyPositiveValuesPress) {
    EXPECT_TRUE(isPressedValue(0.5f));
    EXPECT_TRUE(isPressedValue(std::numeric_limits<float>::denorm_min()));
    EXPECT_FALSE(isPressedValue(0.0f));
    EXPECT_FALSE(isPressedValue(-0.0f));
    EXPECT_FALSE(isPressedValue(-1.0f));
    EXPECT_FALSE(isPressedValue(std::numeric_limits<float>::quiet_NaN()));
}

TEST(AxisSlotTable, EvenIdsFillTheUpperHalfAndOddIdsTheLower) {
    for (std::uint32_t k = 0; k < 7; ++k) {
        EXPECT_EQ(axisSlotTable[2 * k], 7 + k);
        EXPECT_EQ(axisSlotTable[2 * k + 1], k);
    }
}

TEST(GamepadEvents, AxisPairsLandInTheirSlots) {
    ControllerState state = restState();
    EXPECT_EQ(applyGamepadEvent(axesMessage({{0, 1.0f}, {1, 0.0f}}), state), EventOutcome::report);
    EXPECT_EQ(state.bytes[7], 255);
    EXPECT_EQ(state.bytes[0], 0);
    for (std::size_t slot = 1; slot < 14; ++slot) {
        if (slot != 7) {
            EXPECT_EQ(state.bytes[slot], 127) << slot;
        }
    }
}

TEST(GamepadEvents, EveryAxisIdReachesItsSlot) {
    for (std::uint32_t id = 0; id < 14; ++id) {
        ControllerState state = restState();
        ASSERT_EQ(applyGamepadEvent(axesMessage({{id, 1.0f}}), state), EventOutcome::report);
        ControllerState expected = restState();
        expected.bytes[axisSlotTable[id]] = 255;
        EXPECT_EQ(state, expected) << id;
    }
}

TEST(GamepadEvents, LaterPairForTheSameAxisWins) {
    ControllerState state = restState();
    applyGamepadEvent(axesMessage({{3, 0.0f}, {3, 1.0f}}), state);
    EXPECT_EQ(state.bytes[1], 255);
}

TEST(GamepadEvents, UnknownAxisIdChangesNothingButStillAsksForAReport) {
    ControllerState state = restState();
    EXPECT_EQ(applyGamepadEvent(axesMessage({{14, 1.0f}}), state), EventOutcome::report);
    EXPECT_EQ(applyGamepadEvent(axesMessage({{0xFFFFFFFF, 1.0f}}), state), EventOutcome::report);
    EXPECT_EQ(state, restState());
}

TEST(GamepadEvents, ButtonsSetAndClearTheirBitOnly) {
    ControllerState state = restState();
    ASSERT_EQ(applyGamepadEvent(buttonMessage(19, 1.0f), state), EventOutcome::report);
    EXPECT_EQ(state.bytes[16], 0x80);
    ASSERT_EQ(applyGamepadEvent(buttonMessage(19, 1.0f), state), EventOutcome::report);
    EXPECT_EQ(state.bytes[16], 0x80);
    ASSERT_EQ(applyGamepadEvent(buttonMessage(19, 0.0f), state), EventOutcome::report);
    EXPECT_EQ(state, restState());

    applyGamepadEvent(buttonMessage(0, 0.5f), state);
    EXPECT_EQ(state.bytes[14], 0x18);
    applyGamepadEvent(buttonMessage(0, -1.0f), state);
    EXPECT_EQ(state.bytes[14], 0x08);
    EXPECT_EQ(hatField(state), 8);
}

TEST(GamepadEvents, EachButtonHasItsOwnBit) {
    for (std::uint32_t button = 0; button < 20; ++button) {
        ControllerState state = restState();
        applyGamepadEvent(buttonMessage(button, 1.0f), state);
        const std::uint32_t bits =
            state.bytes[14] | (state.bytes[15] << 8) | (state.bytes[16] << 16);
        EXPECT_EQ(bits, 8u | (1u << (button + 4))) << button;
    }
}

TEST(GamepadEvents, RejectedMessagesLeaveTheStateAlone) {
    ControllerState state = restState();
    EXPECT_EQ(applyGamepadEvent(buttonMessage(20, 1.0f), state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent(buttonMessage(0xFFFFFFFF, 1.0f), state), EventOutcome::dropped);
    // pairCount 0 with a whole pair present, for both kinds.
    EXPECT_EQ(applyGamepadEvent(gamepadMessage(2, {{0, 1.0f}}, 0), state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent(gamepadMessage(1, {{0, 1.0f}}, 0), state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent(gamepadMessage(3, {{0, 1.0f}}), state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent(gamepadMessage(0, {{0, 1.0f}}), state), EventOutcome::dropped);
    EXPECT_EQ(state, restState());
}

TEST(GamepadEvents, PairsThatDoNotFitDropTheWholeMessage) {
    ControllerState state = restState();
    // Two pairs claimed, one present: neither is applied.
    EXPECT_EQ(applyGamepadEvent(gamepadMessage(1, {{0, 1.0f}}, 2), state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent(gamepadMessage(1, {{0, 1.0f}}, 0xFFFFFFFF), state),
              EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent(gamepadMessage(1, {{0, 1.0f}}, 0x20000000), state),
              EventOutcome::dropped);
    EXPECT_EQ(state, restState());

    // A button message cut anywhere before its 28th byte; each copy is exactly that long,
    // so a read past the end would show under the address sanitizer.
    const Message whole = buttonMessage(5, 1.0f);
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + size);
        EXPECT_EQ(applyGamepadEvent(cut, state), EventOutcome::dropped) << size;
    }
    EXPECT_EQ(state, restState());
    EXPECT_EQ(applyGamepadEvent(whole, state), EventOutcome::report);
    EXPECT_TRUE(isButtonSet(state, 5));
}

TEST(GamepadEvents, BytesAfterTheLastPairAreIgnored) {
    ControllerState state = restState();
    Message message = axesMessage({{2, 1.0f}});
    message.resize(message.size() + 8, 0xAB);
    wire::writeU32(message, 0, static_cast<std::uint32_t>(message.size()));
    EXPECT_EQ(applyGamepadEvent(message, state), EventOutcome::report);
    EXPECT_EQ(state.bytes[8], 255);
}

TEST(GamepadEvents, ButtonKindReadsOnlyTheFirstPair) {
    ControllerState state = restState();
    applyGamepadEvent(gamepadMessage(2, {{1, 1.0f}, {2, 1.0f}}), state);
    EXPECT_TRUE(isButtonSet(state, 1));
    EXPECT_FALSE(isButtonSet(state, 2));
}

}  // namespace
}  // namespace pellvane::gamepad
