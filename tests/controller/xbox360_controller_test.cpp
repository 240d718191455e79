#include "controller/xbox360_controller.h"

#include <gtest/gtest.h>

#include "controller/vigem_requests.h"
#include "tests/controller/fake_gamepad_bus.h"
#include "tests/controller/gamepad_message.h"
#include "tests/support/debug_capture.h"

namespace pellvane {
namespace {

using testing::axesEvent;
using testing::buttonEvent;
using testing::FakeGamepadBus;
using Bytes = std::vector<std::uint8_t>;

template <std::size_t size>
Bytes bytesOf(const std::array<std::uint8_t, size>& request) {
    return Bytes(request.begin(), request.end());
}

// The requests of one plug-in under `serial` with the rest report as its first.
std::vector<std::uint32_t> plugInCodes() {
    return {vigem::plugInTargetCode, vigem::waitDeviceReadyCode, vigem::xusbSubmitReportCode};
}

TEST(VigemRequests, CodesAndLayoutsAreTheBusOwn) {
    EXPECT_EQ(vigem::plugInTargetCode, 0x2AA004u);
    EXPECT_EQ(vigem::unplugTargetCode, 0x2AA008u);
    EXPECT_EQ(vigem::checkVersionCode, 0x2AA00Cu);
    EXPECT_EQ(vigem::waitDeviceReadyCode, 0x2AA010u);
    EXPECT_EQ(vigem::xusbSubmitReportCode, 0x2AA808u);

    EXPECT_EQ(bytesOf(vigem::checkVersionRequest()), (Bytes{8, 0, 0, 0, 1, 0, 0, 0}));
    EXPECT_EQ(bytesOf(vigem::plugInRequest(0x01020304)),
              (Bytes{16, 0, 0, 0, 4, 3, 2, 1, 0, 0, 0, 0, 0x5E, 0x04, 0x8E, 0x02}));
    EXPECT_EQ(bytesOf(vigem::waitDeviceReadyRequest(7)), (Bytes{8, 0, 0, 0, 7, 0, 0, 0}));
    EXPECT_EQ(bytesOf(vigem::unplugRequest(7)), (Bytes{8, 0, 0, 0, 7, 0, 0, 0}));
    xusb::Report report;
    report.buttons = 0x1234;
    report.leftTrigger = 0xAB;
    report.rightTrigger = 0xCD;
    report.thumbLX = -32768;
    report.thumbLY = 32767;
    report.thumbRX = -1;
    report.thumbRY = 0x0102;
    EXPECT_EQ(bytesOf(vigem::submitReportRequest(2, report)),
              (Bytes{20,   0,    0,    0,    2,    0,    0,    0,    0x34, 0x12,
                     0xAB, 0xCD, 0x00, 0x80, 0xFF, 0x7F, 0xFF, 0xFF, 0x02, 0x01}));
}

class Xbox360ControllerTest : public ::testing::Test {
  protected:
    // Plugs the controller in as an admission does and waits for the bus thread.
    void admit() {
        ASSERT_EQ(controller.openController(), 1);
        controller.waitUntilIdle();
    }

    // The report bytes of each submitted report, oldest first.
    std::vector<xusb::Report> submittedReports() const {
        std::vector<xusb::Report> reports;
        for (const auto& request : bus.requests()) {
            if (request.code != vigem::xusbSubmitReportCode) {
                continue;
            }
            const Bytes& bytes = request.bytes;
            auto at16 = [&](std::size_t at) {
                return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
            };
            reports.push_back({at16(8), bytes[10], bytes[11], static_cast<std::int16_t>(at16(12)),
                               static_cast<std::int16_t>(at16(14)),
                               static_cast<std::int16_t>(at16(16)),
                               static_cast<std::int16_t>(at16(18))});
        }
        return reports;
    }

    testing::DebugCapture capture;
    FakeGamepadBus bus;
    Xbox360Controller controller{bus};
};

TEST_F(Xbox360ControllerTest, StartUpFindsTheBusButPlugsNothingIn) {
    EXPECT_EQ(controller.startController(), 1);
    EXPECT_EQ(bus.codes(), std::vector<std::uint32_t>{vigem::checkVersionCode});
    EXPECT_FALSE(controller.isOpen());
    EXPECT_TRUE(capture.contains("Gamepad bus: connected\n"));
}

TEST_F(Xbox360ControllerTest, StartUpWithoutAUsableBusFindsNone) {
    bus.paths.clear();
    EXPECT_EQ(controller.startController(), 0);
    EXPECT_EQ(controller.startController(), 0);
    EXPECT_EQ(capture.count("Gamepad bus: not found\n"), 1);

    bus.listFails = true;
    EXPECT_EQ(controller.startController(), 0);

    // A bus that cannot be opened or refuses our version is passed over for the next.
    bus.listFails = false;
    bus.paths = {"locked", "old", "good"};
    bus.unopenable = {"locked"};
    bus.refusingVersion = {"old"};
    EXPECT_EQ(controller.startController(), 1);
    EXPECT_EQ(bus.openedPaths(), (std::vector<std::string>{"old", "good"}));
    EXPECT_EQ(bus.openCount(), 1u);
    EXPECT_EQ(bus.requests().back().bus, 2);
}

TEST_F(Xbox360ControllerTest, AdmissionPlugsInWithOneRestReportThenOneReportPerAcceptedEvent) {
    ASSERT_EQ(controller.startController(), 1);
    bus.forgetRequests();
    admit();
    EXPECT_EQ(bus.codes(), plugInCodes());
    const auto requests = bus.requests();
    EXPECT_EQ(requests[0].bytes, bytesOf(vigem::plugInRequest(1)));
    EXPECT_EQ(requests[1].bytes, bytesOf(vigem::waitDeviceReadyRequest(1)));
    EXPECT_EQ(requests[2].bytes, bytesOf(vigem::submitReportRequest(1, {})));
    EXPECT_TRUE(controller.isOpen());

    controller.handleGamepadEvent(axesEvent({{0, 1.0f}, {1, 0.0f}}));
    controller.handleGamepadEvent(buttonEvent(0, 1.0f));
    controller.handleGamepadEvent(buttonEvent(20, 1.0f));    // no such button
    controller.handleGamepadEvent({3, {{0, 1.0f}}});         // no such kind
    controller.handleGamepadEvent({wire::gamepadAxes, {}});  // no pairs
    controller.handleGamepadEvent(axesEvent({{4, 1.0f}}));   // left trigger
    controller.waitUntilIdle();
    const auto reports = submittedReports();
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[1].thumbLX, 32767);
    EXPECT_EQ(reports[1].thumbLY, 32767);
    EXPECT_EQ(reports[2].buttons, xusb::a);
    EXPECT_EQ(reports[3].leftTrigger, 255);
    EXPECT_EQ(reports[3].rightTrigger, 0);

    // A second admission finds it plugged in.
    bus.forgetRequests();
    admit();
    EXPECT_TRUE(bus.requests().empty());
    EXPECT_TRUE(capture.contains("QuibController already open!\n"));
}

TEST_F(Xbox360ControllerTest, TheLastPadLeavingPutsItAtRestAndUnplugsIt) {
    admit();
    controller.handleGamepadEvent(buttonEvent(11, 1.0f));
    controller.waitUntilIdle();
    bus.forgetRequests();

    controller.lastPadGone();
    controller.waitUntilIdle();
    EXPECT_EQ(bus.codes(),
              (std::vector<std::uint32_t>{vigem::xusbSubmitReportCode, vigem::unplugTargetCode}));
    EXPECT_EQ(submittedReports(), std::vector<xusb::Report>{xusb::Report{}});
    EXPECT_EQ(bus.requests().back().bytes, bytesOf(vigem::unplugRequest(1)));
    EXPECT_FALSE(controller.isOpen());

    // At rest already: no report, only the unplug; events while unplugged go nowhere.
    admit();
    bus.forgetRequests();
    controller.lastPadGone();
    controller.handleGamepadEvent(buttonEvent(0, 1.0f));
    controller.waitUntilIdle();
    EXPECT_EQ(bus.codes(), std::vector<std::uint32_t>{vigem::unplugTargetCode});

    // The next admission plugs in again, from rest.
    bus.forgetRequests();
    admit();
    EXPECT_EQ(bus.codes(), plugInCodes());
    EXPECT_EQ(submittedReports(), std::vector<xusb::Report>{xusb::Report{}});
}

TEST_F(Xbox360ControllerTest, QuitUnplugsAndClosesTheBus) {
    admit();
    controller.handleGamepadEvent(buttonEvent(1, 1.0f));
    controller.closeController();
    EXPECT_EQ(bus.codes().back(), vigem::unplugTargetCode);
    EXPECT_EQ(submittedReports().back(), xusb::Report{});
    EXPECT_EQ(bus.openCount(), 0u);
    controller.closeController();  // twice is harmless

    // Without a pad ever admitted, only the bus handle of start-up is closed.
    FakeGamepadBus quiet;
    {
        Xbox360Controller unused(quiet);
        ASSERT_EQ(unused.startController(), 1);
    }
    EXPECT_EQ(quiet.codes(), std::vector<std::uint32_t>{vigem::checkVersionCode});
    EXPECT_EQ(quiet.openCount(), 0u);
}

TEST_F(Xbox360ControllerTest, ASerialInUseIsPassedOverAndNoFreeSlotLeavesItClosed) {
    bus.takenSerials = {1, 2};
    admit();
    EXPECT_EQ(bus.requests()[1].bytes, bytesOf(vigem::plugInRequest(1)));
    EXPECT_EQ(bus.requests()[3].bytes, bytesOf(vigem::plugInRequest(3)));
    EXPECT_TRUE(capture.contains("Gamepad bus: Xbox 360 controller plugged in as 3\n"));
    controller.lastPadGone();
    controller.waitUntilIdle();

    for (std::uint32_t serial = vigem::firstSerial; serial <= vigem::lastSerial; ++serial) {
        bus.takenSerials.insert(serial);
    }
    admit();
    EXPECT_FALSE(controller.isOpen());
    EXPECT_TRUE(capture.contains("Gamepad bus: no free slot for a controller: 31\n"));
    bus.forgetRequests();
    controller.handleGamepadEvent(buttonEvent(0, 1.0f));
    controller.waitUntilIdle();
    EXPECT_TRUE(bus.requests().empty());

    // A slot freed by then: the next admission plugs in.
    bus.takenSerials.erase(16);
    admit();
    EXPECT_TRUE(controller.isOpen());
}

TEST_F(Xbox360ControllerTest, ABusWithoutTheReadyRequestStillPlugsIn) {
    bus.knowsDeviceReady = false;
    admit();
    EXPECT_TRUE(controller.isOpen());
    EXPECT_EQ(submittedReports().size(), 1u);
}

TEST_F(Xbox360ControllerTest, AFailedSubmitDropsTheBusUntilTheNextAdmission) {
    admit();
    bus.submitFails = true;
    controller.handleGamepadEvent(buttonEvent(0, 1.0f));
    controller.handleGamepadEvent(buttonEvent(1, 1.0f));
    controller.waitUntilIdle();
    EXPECT_FALSE(controller.isOpen());
    EXPECT_EQ(bus.openCount(), 0u);  // unplugged and closed
    const auto codes = bus.codes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), vigem::xusbSubmitReportCode), 2);  // no more

    // The next admission finds the bus afresh and starts from rest.
    bus.submitFails = false;
    const int listings = bus.listings();
    bus.forgetRequests();
    admit();
    EXPECT_TRUE(controller.isOpen());
    EXPECT_EQ(bus.listings(), listings + 1);
    EXPECT_EQ(bus.codes().front(), vigem::checkVersionCode);
    EXPECT_EQ(submittedReports(), std::vector<xusb::Report>{xusb::Report{}});
}

TEST_F(Xbox360ControllerTest, AnAdmissionWithoutABusLeavesItClosedAndTriesAgainNextTime) {
    bus.paths.clear();
    admit();
    EXPECT_FALSE(controller.isOpen());
    bus.paths = {"bus-late"};
    admit();
    EXPECT_TRUE(controller.isOpen());
}

}  // namespace
}  // namespace pellvane
