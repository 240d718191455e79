#include "controller/xusb_report.h"

#include <gtest/gtest.h>

#include "controller/gamepad_events.h"
#include "tests/controller/gamepad_message.h"

namespace pellvane::xusb {
namespace {

using testing::axesEvent;
using testing::buttonEvent;

TEST(XusbReport, RestIsAllZeros) {
    EXPECT_EQ(reportFor(restControllerState(), {}), Report{});
}

TEST(XusbReport, SticksSpanTheWholeRangeWithYInverted) {
    EXPECT_EQ(stickAxis(0), -32768);
    EXPECT_EQ(stickAxis(127), 0);
    EXPECT_EQ(stickAxis(255), 32767);
    EXPECT_LT(stickAxis(126), 0);
    EXPECT_GT(stickAxis(128), 0);
    // HID's top is XInput's top; the far end of -32768 is clamped into range.
    EXPECT_EQ(invertedStickAxis(0), 32767);
    EXPECT_EQ(invertedStickAxis(127), 0);
    EXPECT_EQ(invertedStickAxis(255), -32767);
    for (int slot = 1; slot < 256; ++slot) {
        EXPECT_GT(stickAxis(static_cast<std::uint8_t>(slot)),
                  stickAxis(static_cast<std::uint8_t>(slot - 1)));
    }

    ControllerState state = restControllerState();
    state.bytes[leftStickXSlot] = 255;
    state.bytes[leftStickYSlot] = 0;
    state.bytes[rightStickXSlot] = 0;
    state.bytes[rightStickYSlot] = 255;
    const Report report = reportFor(state, {});
    EXPECT_EQ(report.thumbLX, 32767);
    EXPECT_EQ(report.thumbLY, 32767);
    EXPECT_EQ(report.thumbRX, -32768);
    EXPECT_EQ(report.thumbRY, -32767);
    EXPECT_EQ(report.buttons, 0);
}

TEST(XusbReport, TheEventThatMovesTheLeftStickToItsEndsIsUpAndRight) {
    ControllerState state = restControllerState();
    const auto event = axesEvent({{0, 1.0f}, {1, 0.0f}});
    ASSERT_EQ(gamepad::applyGamepadEvent(event, state), gamepad::EventOutcome::report);
    const Report report = reportFor(state, noteTriggerWrites(event, {}));
    EXPECT_EQ(report.thumbLX, 32767);
    EXPECT_EQ(report.thumbLY, 32767);
    EXPECT_EQ(report.leftTrigger, 0);
    EXPECT_EQ(report.rightTrigger, 0);
}

TEST(XusbReport, TriggersReadZeroUntilWrittenThenPassAsTheyAre) {
    ControllerState state = restControllerState();
    EXPECT_EQ(reportFor(state, {}).leftTrigger, 0);
    EXPECT_EQ(reportFor(state, {true, false}).leftTrigger, 127);
    EXPECT_EQ(reportFor(state, {false, true}).rightTrigger, 127);

    // Pad axis 4 is the left trigger's slot, axis 5 the right one's.
    const auto left = axesEvent({{4, 1.0f}});
    ASSERT_EQ(gamepad::applyGamepadEvent(left, state), gamepad::EventOutcome::report);
    const TriggerWrites written = noteTriggerWrites(left, {});
    EXPECT_EQ(written, (TriggerWrites{true, false}));
    EXPECT_EQ(reportFor(state, written).leftTrigger, 255);
    EXPECT_EQ(reportFor(state, written).rightTrigger, 0);
    EXPECT_EQ(noteTriggerWrites(axesEvent({{5, 0.0f}}), written), (TriggerWrites{true, true}));
    // Buttons, ids past the axes and other axes write no trigger.
    EXPECT_EQ(noteTriggerWrites(buttonEvent(4, 1.0f), {}), TriggerWrites{});
    EXPECT_EQ(noteTriggerWrites(axesEvent({{14, 1.0f}, {0, 1.0f}, {3, 1.0f}}), {}),
              TriggerWrites{});
}

TEST(XusbReport, EachButtonHasItsBitOrNone) {
    const std::uint16_t expected[ControllerState::buttonCount] = {
        a,         b,      0,        x,     y,     0,         leftShoulder, rightShoulder,
        0,         0,      back,     start, guide, leftThumb, rightThumb,   dpadLeft,
        dpadRight, dpadUp, dpadDown, 0};
    for (std::uint32_t button = 0; button < ControllerState::buttonCount; ++button) {
        ControllerState state = restControllerState();
        setButton(state, button, true);
        EXPECT_EQ(reportFor(state, {}).buttons, expected[button]) << "button " << button;
        EXPECT_EQ(reportFor(state, {}).leftTrigger, 0) << "button " << button;
    }
}

TEST(XusbReport, TheHatFieldJoinsTheDpad) {
    const std::uint16_t expected[] = {dpadUp,    dpadUp | dpadRight,
                                      dpadRight, dpadDown | dpadRight,
                                      dpadDown,  dpadDown | dpadLeft,
                                      dpadLeft,  dpadUp | dpadLeft,
                                      0,         0};
    for (std::uint8_t hat = 0; hat < 10; ++hat) {
        ControllerState state = restControllerState();
        state.bytes[ControllerState::hatAndButtonsByte] = hat;
        EXPECT_EQ(reportFor(state, {}).buttons, expected[hat]) << "hat " << int{hat};
    }
    ControllerState state = restControllerState();
    state.bytes[ControllerState::hatAndButtonsByte] = 2;  // east
    setButton(state, 17, true);                           // the D-pad's up
    setButton(state, 0, true);
    EXPECT_EQ(reportFor(state, {}).buttons, dpadUp | dpadRight | a);
}

}  // namespace
}  // namespace pellvane::xusb
