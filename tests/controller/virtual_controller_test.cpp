#include "controller/virtual_controller.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "controller/output_report.h"
#include "tests/controller/fake_hid.h"
#include "tests/controller/gamepad_message.h"
#include "tests/support/debug_capture.h"

namespace pellvane {
namespace {

using testing::axesEvent;
using testing::buttonEvent;
using testing::controllerInterface;
using testing::DebugCapture;
using testing::FakeHid;

std::vector<std::uint8_t> restReport() {
    std::vector<std::uint8_t> report(65, 0);
    report[0] = 0x40;
    report[1] = 0x12;
    report[2] = 0x02;
    for (std::size_t i = 3; i < 17; ++i) {
        report[i] = 0x7F;
    }
    report[17] = 0x08;
    return report;
}

class VirtualControllerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        hid.addInterface(controllerInterface(1));
        hid.addInterface(controllerInterface(2));
    }

    void open() {
        ASSERT_EQ(controller.openController(), 1);
        ASSERT_EQ(hid.reportCount(), 1u);
    }

    std::vector<std::uint8_t> lastReport() const {
        const auto reports = hid.reports();
        return reports.empty() ? std::vector<std::uint8_t>{} : reports.back().bytes;
    }

    FakeHid hid;
    VirtualController controller{hid};
};

TEST(OutputReport, RestStateAndTwoButtonsAsTheDeviceSeesThem) {
    ControllerState state;
    resetControllerState(&state);
    std::array<std::uint8_t, controllerReportSize> report{};
    buildReport(state, report);
    EXPECT_EQ(std::vector<std::uint8_t>(report.begin(), report.end()), restReport());

    setButton(state, 0, true);
    setButton(state, 19, true);
    buildReport(state, report);
    EXPECT_EQ(report[17], 0x18);
    EXPECT_EQ(report[18], 0x00);
    EXPECT_EQ(report[19], 0x80);
}

TEST(OutputReport, NullDeviceOrStateWritesNothing) {
    FakeHid hid;
    ControllerDevice device;
    ControllerState state;
    EXPECT_EQ(writeReport(hid, nullptr, &state), 0);
    EXPECT_EQ(writeReport(hid, &device, nullptr), 0);
    EXPECT_EQ(hid.reportCount(), 0u);
    resetControllerState(nullptr);  // harmless
}

TEST_F(VirtualControllerTest, OpenWritesTheRestReportToTheUsageOneInterface) {
    DebugCapture capture;
    ASSERT_EQ(controller.openController(), 1);
    EXPECT_TRUE(controller.isOpen());
    const auto reports = hid.reports();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].interfaceIndex, 0u);
    EXPECT_EQ(reports[0].bytes, restReport());
    EXPECT_EQ(hid.inputBufferCounts(), std::vector<std::uint32_t>{10});
    EXPECT_EQ(capture.lines(), std::vector<std::string>({
                                   "\n....looking for our HID device\n",
                                   "\n....looking for our HID device\n",
                                   "QuibController Opened!\n",
                               }));
}

TEST_F(VirtualControllerTest, OpenWhileOpenKeepsTheStateAndWritesNothing) {
    open();
    controller.handleGamepadEvent(buttonEvent(3, 1.0f));
    const ControllerState before = controller.state();
    DebugCapture capture;
    EXPECT_EQ(controller.openController(), 1);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"QuibController already open!\n"});
    EXPECT_EQ(hid.reportCount(), 2u);
    EXPECT_EQ(controller.state(), before);
    EXPECT_EQ(hid.enumerations(), 2);
}

TEST_F(VirtualControllerTest, RefusedFirstReportClosesBothHandlesAndTheNextOpenSearchesAgain) {
    hid.refuseWrites(1);
    DebugCapture capture;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(controller.openController(), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "Success: Found my device.. \nSuccess: Found my device.. \nfailed WriteFile 1167\n");
    EXPECT_TRUE(capture.contains("Could not update controller!\n"));
    EXPECT_FALSE(controller.isOpen());
    EXPECT_TRUE(hid.openInterfaces().empty());
    EXPECT_EQ(hid.badCloses(), 0);

    EXPECT_EQ(controller.openController(), 1);
    // Discovery ran again in full: two more searches, each opening its own interface.
    EXPECT_EQ(hid.enumerations(), 4);
    EXPECT_EQ(hid.opensOf(0), 2u);
    EXPECT_EQ(hid.opensOf(1), 2u);
    EXPECT_EQ(lastReport(), restReport());
}

TEST_F(VirtualControllerTest, NoDeviceLeavesTheControllerClosed) {
    hid.clearInterfaces();
    DebugCapture capture;
    EXPECT_EQ(controller.openController(), 0);
    EXPECT_FALSE(controller.isOpen());
    EXPECT_TRUE(capture.contains("Could not connect to controller!\n"));
    // The usage-2 search never ran.
    EXPECT_EQ(hid.enumerations(), 1);
}

TEST_F(VirtualControllerTest, CloseReleasesBothHandlesAndTwiceIsHarmless) {
    open();
    EXPECT_EQ(hid.openInterfaces().size(), 2u);
    controller.closeController();
    EXPECT_FALSE(controller.isOpen());
    EXPECT_TRUE(hid.openInterfaces().empty());
    controller.closeController();
    EXPECT_EQ(hid.badCloses(), 0);
}

TEST_F(VirtualControllerTest, DestructionClosesAnOpenController) {
    {
        VirtualController scoped(hid);
        ASSERT_EQ(scoped.openController(), 1);
    }
    EXPECT_TRUE(hid.openInterfaces().empty());
}

TEST_F(VirtualControllerTest, EventsWhileClosedDoNothingAndNeverOpen) {
    DebugCapture capture;
    controller.handleGamepadEvent(axesEvent({{0, 1.0f}}));
    controller.handleGamepadEvent(buttonEvent(1, 1.0f));
    EXPECT_EQ(hid.enumerations(), 0);
    EXPECT_EQ(hid.reportCount(), 0u);
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(VirtualControllerTest, EachAcceptedEventWritesOneWholeReport) {
    open();
    controller.handleGamepadEvent(axesEvent({{0, 1.0f}, {1, 0.0f}}));
    ASSERT_EQ(hid.reportCount(), 2u);
    auto expected = restReport();
    expected[3 + 7] = 255;
    expected[3 + 0] = 0;
    EXPECT_EQ(lastReport(), expected);

    // An axis id that names no slot still reports the (unchanged) state.
    controller.handleGamepadEvent(axesEvent({{14, 1.0f}}));
    ASSERT_EQ(hid.reportCount(), 3u);
    EXPECT_EQ(lastReport(), expected);

    controller.handleGamepadEvent(buttonEvent(19, 1.0f));
    controller.handleGamepadEvent(buttonEvent(19, 1.0f));
    ASSERT_EQ(hid.reportCount(), 5u);
    expected[19] = 0x80;
    EXPECT_EQ(hid.reports()[3].bytes, expected);
    EXPECT_EQ(lastReport(), expected);
    controller.handleGamepadEvent(buttonEvent(19, 0.0f));
    expected[19] = 0x00;
    EXPECT_EQ(lastReport(), expected);
}

TEST_F(VirtualControllerTest, PressThenReleaseKeepsTheHatCentred) {
    open();
    controller.handleGamepadEvent(buttonEvent(0, 0.5f));
    EXPECT_EQ(lastReport()[17], 0x18);
    controller.handleGamepadEvent(buttonEvent(0, -1.0f));
    EXPECT_EQ(lastReport()[17], 0x08);
    EXPECT_EQ(hid.reportCount(), 3u);
}

TEST_F(VirtualControllerTest, RejectedEventsWriteNoReport) {
    open();
    controller.handleGamepadEvent(buttonEvent(20, 1.0f));
    controller.handleGamepadEvent({wire::gamepadButton, {}});
    controller.handleGamepadEvent({wire::gamepadAxes, {}});
    controller.handleGamepadEvent({7, {{0, 1.0f}}});
    EXPECT_EQ(hid.reportCount(), 1u);
    ControllerState rest;
    resetControllerState(&rest);
    EXPECT_EQ(controller.state(), rest);
}

TEST_F(VirtualControllerTest, ARefusedLaterReportKeepsTheChangeForTheNext) {
    open();
    hid.refuseWrites(1);
    DebugCapture capture;
    ::testing::internal::CaptureStdout();
    controller.handleGamepadEvent(buttonEvent(4, 1.0f));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "failed WriteFile 1167\n");
    EXPECT_EQ(capture.lines(), std::vector<std::string>{"SetOutputReport FAILED!\n"});
    EXPECT_TRUE(controller.isOpen());
    controller.handleGamepadEvent(buttonEvent(5, 1.0f));
    const auto report = lastReport();
    EXPECT_EQ(report[18], 0x03);  // buttons 4 and 5: bits 0 and 1 of state byte 15
    EXPECT_EQ(hid.reportCount(), 2u);
}

TEST_F(VirtualControllerTest, AnAdmissionAfterAClientLeftKeepsHeldButtons) {
    open();
    controller.handleGamepadEvent(buttonEvent(7, 1.0f));
    EXPECT_EQ(controller.openController(), 1);
    EXPECT_TRUE(isButtonSet(controller.state(), 7));
}

// The shutdown close on one thread against events and re-opens on another: the lock keeps
// every report write on an open device (a write after the close would reach a closed handle,
// which the fake counts as stale) and the sanitizers see no race.
TEST_F(VirtualControllerTest, CloseNeverOverlapsAnOpenOrAReportWrite) {
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(controller.openController(), 1);
        std::atomic<bool> stop{false};
        std::thread loop([&] {
            for (int i = 0; !stop.load(); ++i) {
                controller.handleGamepadEvent(axesEvent({{0, (i % 256) / 255.0f}}));
                if (i % 50 == 0) {
                    controller.openController();
                }
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        controller.closeController();
        stop.store(true);
        loop.join();
        controller.closeController();
        EXPECT_TRUE(hid.openInterfaces().empty());
    }
    EXPECT_EQ(hid.badCloses(), 0);
    EXPECT_EQ(hid.staleWrites(), 0);
    for (const auto& report : hid.reports()) {
        ASSERT_EQ(report.bytes.size(), 65u);
        ASSERT_EQ(report.interfaceIndex, 0u);
    }
}

}  // namespace
}  // namespace pellvane
