// The virtual controller with a socket pair in place of /dev/uhid (one event per message,
// as the device file gives them) and a recorder in place of the uinput game controller.
#include "tools/vpad/virtual_pad.h"

#include <gtest/gtest.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <set>

#include "controller/output_report.h"
#include "platform/hid_report_descriptor.h"
#include "tools/vpad/controller_descriptor.h"
#include "tools/vpad/gamepad_mapping.h"

namespace pellvane::testing {
namespace {

using input::InputEvent;
using Events = std::vector<InputEvent>;

constexpr std::size_t payloadOffset = offsetof(uhid_event, u);

class EventRecorder : public input::InputEventSink {
  public:
    bool emit(std::span<const InputEvent> events) override {
        received.insert(received.end(), events.begin(), events.end());
        return true;
    }
    Events received;
};

ControllerState restState() {
    ControllerState state;
    resetControllerState(&state);
    return state;
}

std::vector<std::uint8_t> reportFor(const ControllerState& state) {
    std::array<std::uint8_t, controllerReportSize> report{};
    buildReport(state, report);
    return {report.begin(), report.end()};
}

InputEvent syn() {
    return {EV_SYN, SYN_REPORT, 0};
}

// The kernel's end of the device file.
class VirtualPadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int ends[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends), 0);
        kernel_ = ends[0];
        hid_ = std::make_unique<vpad::UhidDevice>(posix::FileDescriptor(ends[1]));
        pad_ = std::make_unique<vpad::VirtualPad>(*hid_, gamepad_, notices_, true);
    }
    void TearDown() override {
        pad_.reset();
        hid_.reset();
        if (kernel_ >= 0) {
            ::close(kernel_);
        }
        std::fclose(notices_);
    }

    void sendEvent(const uhid_event& event, std::size_t size = sizeof(uhid_event)) {
        ASSERT_EQ(::send(kernel_, &event, size, 0), static_cast<ssize_t>(size));
    }

    // Hands the pad one event and returns what the game controller got from it.
    Events handle(const uhid_event& event, std::size_t size = sizeof(uhid_event)) {
        gamepad_.received.clear();
        sendEvent(event, size);
        EXPECT_TRUE(pad_->handleNextEvent());
        return gamepad_.received;
    }

    uhid_event output(const std::vector<std::uint8_t>& report) {
        uhid_event event{};
        event.type = UHID_OUTPUT;
        event.u.output.size = static_cast<std::uint16_t>(report.size());
        event.u.output.rtype = UHID_OUTPUT_REPORT;
        std::copy(report.begin(), report.end(), event.u.output.data);
        return event;
    }

    uhid_event reportRequest(std::uint32_t type, std::uint32_t id, std::uint8_t number,
                             std::uint8_t reportType) {
        uhid_event event{};
        event.type = type;
        event.u.get_report.id = id;
        event.u.get_report.rnum = number;
        event.u.get_report.rtype = reportType;
        return event;
    }

    // What the pad wrote to the kernel, and how many bytes of it.
    std::pair<uhid_event, std::size_t> written() {
        uhid_event event{};
        const ssize_t got = ::recv(kernel_, &event, sizeof event, MSG_DONTWAIT);
        EXPECT_GE(got, static_cast<ssize_t>(payloadOffset));
        return {event, got < 0 ? 0 : static_cast<std::size_t>(got)};
    }

    int kernel_ = -1;
    std::FILE* notices_ = std::tmpfile();
    EventRecorder gamepad_;
    std::unique_ptr<vpad::UhidDevice> hid_;
    std::unique_ptr<vpad::VirtualPad> pad_;
};

TEST_F(VirtualPadTest, MakesTheDeviceThatTheDiscoveryLooksForAndRemovesItAtTheEnd) {
    ASSERT_TRUE(pad_->start());
    const auto [create, size] = written();
    ASSERT_EQ(create.type, static_cast<std::uint32_t>(UHID_CREATE2));
    EXPECT_EQ(create.u.create2.vendor, 0x00FFu);
    EXPECT_EQ(create.u.create2.product, 0xBACCu);
    const std::size_t descriptorSize = create.u.create2.rd_size;
    EXPECT_EQ(size, payloadOffset + offsetof(uhid_create2_req, rd_data) + descriptorSize);
    const auto collections = platform::parseTopLevelCollections(
        std::span<const std::uint8_t>(create.u.create2.rd_data, descriptorSize));
    EXPECT_EQ(collections.fault, platform::DescriptorFault::none);
    EXPECT_EQ(collections.applications,
              (std::vector<platform::HidUsage>{{0xFF00, 1}, {0xFF00, 2}}));

    ASSERT_TRUE(pad_->stop());
    EXPECT_EQ(written().first.type, static_cast<std::uint32_t>(UHID_DESTROY));
}

TEST_F(VirtualPadTest, StateReportsMoveAxesButtonsAndHat) {
    uhid_event start{};
    start.type = UHID_START;
    EXPECT_EQ(handle(start), Events{});
    ControllerState state = restState();
    EXPECT_EQ(handle(output(reportFor(state))), Events{});  // the server's first report

    state.bytes[7] = 255;  // pad axis 0
    state.bytes[0] = 0;    // pad axis 1
    setButton(state, 3, true);
    setButton(state, 19, true);
    EXPECT_EQ(handle(output(reportFor(state))), (Events{{EV_ABS, ABS_Y, 0},
                                                        {EV_ABS, ABS_X, 255},
                                                        {EV_KEY, BTN_NORTH, 1},
                                                        {EV_KEY, BTN_TRIGGER_HAPPY5, 1},
                                                        syn()}));
    setButton(state, 3, false);
    state.bytes[7] = 0;
    state.bytes[ControllerState::hatAndButtonsByte] &= 0xF0;  // hat north
    EXPECT_EQ(handle(output(reportFor(state))),
              (Events{{EV_ABS, ABS_X, 0}, {EV_ABS, ABS_HAT0Y, -1}, {EV_KEY, BTN_NORTH, 0}, syn()}));
    state.bytes[ControllerState::hatAndButtonsByte] |= 3;  // south-east
    EXPECT_EQ(handle(output(reportFor(state))),
              (Events{{EV_ABS, ABS_HAT0X, 1}, {EV_ABS, ABS_HAT0Y, 1}, syn()}));
}

TEST_F(VirtualPadTest, ReportsThatAreNotStateReportsChangeNothing) {
    ControllerState moved = restState();
    moved.bytes[3] = 0;
    std::vector<std::uint8_t> report = reportFor(moved);
    report[0] = 0x41;
    EXPECT_EQ(handle(output(report)), Events{});
    report = reportFor(moved);
    EXPECT_EQ(handle(output({report.begin(), report.begin() + 19})), Events{});
    // A size beyond what the event can hold is cut to the data field, not trusted.
    uhid_event oversized = output(report);
    oversized.u.output.size = 0xFFFF;
    EXPECT_EQ(handle(oversized), (Events{{EV_ABS, ABS_RUDDER, 0}, syn()}));
    // An event cut short before the data is whole is no report.
    EXPECT_EQ(handle(output(reportFor(restState())), payloadOffset + 10), Events{});
}

TEST_F(VirtualPadTest, AnswersReportRequestsWithTheirIds) {
    ControllerState state = restState();
    setButton(state, 0, true);
    handle(output(reportFor(state)));

    handle(reportRequest(UHID_GET_REPORT, 7, reportIdByte, UHID_OUTPUT_REPORT));
    auto [reply, size] = written();
    EXPECT_EQ(reply.type, static_cast<std::uint32_t>(UHID_GET_REPORT_REPLY));
    EXPECT_EQ(reply.u.get_report_reply.id, 7u);
    EXPECT_EQ(reply.u.get_report_reply.err, 0);
    ASSERT_EQ(reply.u.get_report_reply.size, controllerReportSize);
    EXPECT_EQ(std::vector<std::uint8_t>(reply.u.get_report_reply.data,
                                        reply.u.get_report_reply.data + controllerReportSize),
              reportFor(state));

    handle(reportRequest(UHID_GET_REPORT, 8, 0x33, UHID_FEATURE_REPORT));
    reply = written().first;
    EXPECT_EQ(reply.u.get_report_reply.id, 8u);
    EXPECT_EQ(reply.u.get_report_reply.err, EIO);

    uhid_event set = reportRequest(UHID_SET_REPORT, 9, reportIdByte, UHID_OUTPUT_REPORT);
    const std::vector<std::uint8_t> rest = reportFor(restState());
    set.u.set_report.size = static_cast<std::uint16_t>(rest.size());
    std::copy(rest.begin(), rest.end(), set.u.set_report.data);
    EXPECT_EQ(handle(set), (Events{{EV_KEY, BTN_SOUTH, 0}, syn()}));
    reply = written().first;
    EXPECT_EQ(reply.type, static_cast<std::uint32_t>(UHID_SET_REPORT_REPLY));
    EXPECT_EQ(reply.u.set_report_reply.id, 9u);
    EXPECT_EQ(reply.u.set_report_reply.err, 0);

    // Too short to carry its id: nothing to answer.
    handle(reportRequest(UHID_GET_REPORT, 10, reportIdByte, UHID_OUTPUT_REPORT), payloadOffset + 2);
    EXPECT_EQ(::recv(kernel_, &set, sizeof set, MSG_DONTWAIT), -1);
}

TEST_F(VirtualPadTest, EndsWhenTheDeviceFileCloses) {
    ::close(kernel_);
    kernel_ = -1;
    EXPECT_FALSE(pad_->handleNextEvent());
}

TEST(GamepadMapping, EveryAxisAndButtonHasACodeOfItsOwn) {
    const input::UinputDeviceSpec spec = vpad::gamepadSpec();
    std::set<std::uint16_t> axes;
    for (const input::AbsoluteAxis& axis : spec.axes) {
        axes.insert(axis.code);
    }
    EXPECT_EQ(axes.size(), ControllerState::axisSlotCount + 2);  // and the hat's X and Y
    EXPECT_EQ(std::set<std::uint16_t>(spec.keys.begin(), spec.keys.end()).size(),
              ControllerState::buttonCount);
    EXPECT_EQ(vpad::gamepadEvents(restState(), restState()), Events{});
}

}  // namespace
}  // namespace pellvane::testing
