#include "controller/gamepad_events.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tests/controller/gamepad_message.h"

namespace pellvane::gamepad {
namespace {

using testing::axesEvent;
using testing::buttonEvent;

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
    ControllerState state = restControllerState();
    EXPECT_EQ(applyGamepadEvent(axesEvent({{0, 1.0f}, {1, 0.0f}}), state), EventOutcome::report);
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
        ControllerState state = restControllerState();
        ASSERT_EQ(applyGamepadEvent(axesEvent({{id, 1.0f}}), state), EventOutcome::report);
        ControllerState expected = restControllerState();
        expected.bytes[axisSlotTable[id]] = 255;
        EXPECT_EQ(state, expected) << id;
    }
}

TEST(GamepadEvents, LaterPairForTheSameAxisWins) {
    ControllerState state = restControllerState();
    applyGamepadEvent(axesEvent({{3, 0.0f}, {3, 1.0f}}), state);
    EXPECT_EQ(state.bytes[1], 255);
}

TEST(GamepadEvents, UnknownAxisIdChangesNothingButStillAsksForAReport) {
    ControllerState state = restControllerState();
    EXPECT_EQ(applyGamepadEvent(axesEvent({{14, 1.0f}}), state), EventOutcome::report);
    EXPECT_EQ(applyGamepadEvent(axesEvent({{0xFFFFFFFF, 1.0f}}), state), EventOutcome::report);
    EXPECT_EQ(state, restControllerState());
}

TEST(GamepadEvents, ButtonsSetAndClearTheirBitOnly) {
    ControllerState state = restControllerState();
    ASSERT_EQ(applyGamepadEvent(buttonEvent(19, 1.0f), state), EventOutcome::report);
    EXPECT_EQ(state.bytes[16], 0x80);
    ASSERT_EQ(applyGamepadEvent(buttonEvent(19, 1.0f), state), EventOutcome::report);
    EXPECT_EQ(state.bytes[16], 0x80);
    ASSERT_EQ(applyGamepadEvent(buttonEvent(19, 0.0f), state), EventOutcome::report);
    EXPECT_EQ(state, restControllerState());

    applyGamepadEvent(buttonEvent(0, 0.5f), state);
    EXPECT_EQ(state.bytes[14], 0x18);
    applyGamepadEvent(buttonEvent(0, -1.0f), state);
    EXPECT_EQ(state.bytes[14], 0x08);
    EXPECT_EQ(hatField(state), 8);
}

TEST(GamepadEvents, EachButtonHasItsOwnBit) {
    for (std::uint32_t button = 0; button < 20; ++button) {
        ControllerState state = restControllerState();
        applyGamepadEvent(buttonEvent(button, 1.0f), state);
        const std::uint32_t bits =
            state.bytes[14] | (state.bytes[15] << 8) | (state.bytes[16] << 16);
        EXPECT_EQ(bits, 8u | (1u << (button + 4))) << button;
    }
}

TEST(GamepadEvents, RejectedEventsLeaveTheStateAlone) {
    ControllerState state = restControllerState();
    EXPECT_EQ(applyGamepadEvent(buttonEvent(20, 1.0f), state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent(buttonEvent(0xFFFFFFFF, 1.0f), state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent({wire::gamepadButton, {}}, state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent({wire::gamepadAxes, {}}, state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent({3, {{0, 1.0f}}}, state), EventOutcome::dropped);
    EXPECT_EQ(applyGamepadEvent({0, {{0, 1.0f}}}, state), EventOutcome::dropped);
    EXPECT_EQ(state, restControllerState());
}

TEST(GamepadEvents, ButtonKindReadsOnlyTheFirstPair) {
    ControllerState state = restControllerState();
    applyGamepadEvent({wire::gamepadButton, {{1, 1.0f}, {2, 1.0f}}}, state);
    EXPECT_TRUE(isButtonSet(state, 1));
    EXPECT_FALSE(isButtonSet(state, 2));
}

}  // namespace
}  // namespace pellvane::gamepad
