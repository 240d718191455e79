// Any GamepadEvent message through VirtualController::handleGamepadEvent of an open
// controller on an in-memory HID service.
//
// Input: the message; its size and type fields are set as the server hands it on.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "controller/virtual_controller.h"
#include "delegates/gamepad_events.h"
#include "server/wire_protocol.h"
#include "tests/controller/fake_hid.h"

namespace {

using namespace pellvane;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

constexpr std::size_t stateOffsetInReport = 3;

std::uint32_t buttonBits(const ControllerState& state) {
    return static_cast<std::uint32_t>(state.bytes[14] | (state.bytes[15] << 8) |
                                      (state.bytes[16] << 16)) >>
           4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Message message(data, data + size);
    if (message.size() < wire::headerSize) {
        message.resize(wire::headerSize, 0);
    }
    wire::writeU32(message, 0, static_cast<std::uint32_t>(message.size()));
    wire::writeU32(message, 4, wire::GamepadEvent);

    testing::FakeHid hid;
    hid.addInterface(testing::controllerInterface(1));
    hid.addInterface(testing::controllerInterface(2));
    VirtualController controller(hid);
    require(controller.openController() == 1);
    const std::size_t reportsBefore = hid.reportCount();
    const ControllerState before = controller.state();

    controller.handleGamepadEvent(message);

    const ControllerState after = controller.state();
    const std::size_t newReports = hid.reportCount() - reportsBefore;
    require(newReports <= 1);
    if (newReports == 0) {
        require(after == before);  // a dropped event changes nothing
    } else {
        const auto report = hid.reports().back().bytes;
        require(report.size() == controllerReportSize);
        for (std::size_t i = 0; i < ControllerState::size; ++i) {
            require(report[stateOffsetInReport + i] == after.bytes[i]);
        }
    }
    require(hatField(after) == hatField(before));
    const std::uint32_t kind = wire::readU32(message, gamepad::kindOffset);
    const std::uint32_t changedButtons = buttonBits(after) ^ buttonBits(before);
    if (kind == gamepad::kindAxes) {
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
    const auto outcome = gamepad::applyGamepadEvent(message, shadow);
    require((outcome == gamepad::EventOutcome::report) == (newReports == 1));
    require(shadow == after);
    return 0;
}
