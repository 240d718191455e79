// Any GamepadEvent message through its decoding and VirtualController::handleGamepadEvent of
// an open controller on an in-memory HID service.
//
// Input: the message; its size and type fields are set as the server hands it on.
#include <cstdint>
#include <vector>

#include "controller/gamepad_events.h"
#include "controller/virtual_controller.h"
#include "fuzz/support/fuzz_message.h"
#include "fuzz/support/require.h"
#include "tests/controller/fake_hid.h"

namespace {

using namespace pellvane;

using pellvane::fuzzing::require;

constexpr std::size_t stateOffsetInReport = 3;

std::uint32_t buttonBits(const ControllerState& state) {
    return static_cast<std::uint32_t>(state.bytes[14] | (state.bytes[15] << 8) |
                                      (state.bytes[16] << 16)) >>
           4;
}

// Opened once: each run starts from whatever state the runs before it left.
struct Setup {
    Setup() {
        hid.addInterface(testing::controllerInterface(1));
        hid.addInterface(testing::controllerInterface(2));
        require(controller.openController() == 1);
        hid.clearReports();  // the report that opening writes
    }
    testing::FakeHid hid;
    VirtualController controller{hid};
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Setup setup;
    const ReceivedMessage message = fuzzing::messageOfType({data, size}, wire::GamepadEvent);

    const ControllerState before = setup.controller.state();
    const std::optional<wire::GamepadEventBody> event = wire::readGamepadEvent(message);
    if (event) {
        setup.controller.handleGamepadEvent(*event);
    }

    const ControllerState after = setup.controller.state();
    const auto reports = setup.hid.reports();
    require(reports.size() <= 1);
    if (reports.empty()) {
        require(after == before);  // a dropped event changes nothing
    } else {
        require(reports.back().bytes.size() == controllerReportSize);
        for (std::size_t i = 0; i < ControllerState::size; ++i) {
            require(reports.back().bytes[stateOffsetInReport + i] == after.bytes[i]);
        }
    }
    require(hatField(after) == hatField(before));
    const std::uint32_t changedButtons = buttonBits(after) ^ buttonBits(before);
    if (event && event->kind == wire::gamepadAxes) {
        require(changedButtons == 0);
    } else {
        // One button message moves at most one button and no axis.
        require((changedButtons & (changedButtons - 1)) == 0);
        for (std::size_t slot = 0; slot < ControllerState::axisSlotCount; ++slot) {
            require(after.bytes[slot] == before.bytes[slot]);
        }
    }
    // The pure decoding agrees with what the controller did.
    ControllerState shadow = before;
    const bool reported =
        event && gamepad::applyGamepadEvent(*event, shadow) == gamepad::EventOutcome::report;
    require(reported == (reports.size() == 1));
    require(shadow == after);
    setup.hid.clearReports();  // the run leaves nothing behind for the leak check
    return 0;
}
