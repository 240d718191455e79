#include "tools/vpad/virtual_pad.h"

#include <linux/input.h>

#include <cerrno>
#include <cstdarg>

#include "controller/controller_discovery.h"
#include "controller/output_report.h"
#include "tools/vpad/controller_descriptor.h"
#include "tools/vpad/gamepad_mapping.h"

namespace pellvane::vpad {
namespace {

constexpr char deviceName[] = "Pellvane Virtual Controller";

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    char byte[4];
    for (const std::uint8_t value : bytes) {
        std::snprintf(byte, sizeof byte, text.empty() ? "%02X" : " %02X", value);
        text += byte;
    }
    return text;
}

}  // namespace

VirtualPad::VirtualPad(UhidDevice& hid, input::InputEventSink& gamepad, std::FILE* notices,
                       bool debug)
    : hid_(hid), gamepad_(gamepad), notices_(notices), debug_(debug) {
    resetControllerState(&state_);
    buildReport(state_, lastReport_);
}

bool VirtualPad::start() {
    return hid_.create({deviceName, BUS_VIRTUAL, controllerVendorId, controllerProductId, 1,
                        controllerReportDescriptor});
}

bool VirtualPad::stop() {
    return hid_.destroy();
}

bool VirtualPad::handleNextEvent() {
    const std::optional<UhidEvent> event = hid_.read();
    if (!event) {
        return false;
    }
    switch (event->kind) {
        case UhidEventKind::start:
            log("started\n");
            return true;
        case UhidEventKind::stop:
            log("stopped\n");
            return true;
        case UhidEventKind::open:
        case UhidEventKind::close:
        case UhidEventKind::other:
            return true;
        case UhidEventKind::output:
            return applyReport(event->data);
        case UhidEventKind::getReport:
            return answerGetReport(*event);
        case UhidEventKind::setReport:
            return answerSetReport(*event);
    }
    return true;
}

bool VirtualPad::applyReport(std::span<const std::uint8_t> report) {
    const std::optional<ControllerState> next = stateFromReport(report);
    if (!next) {
        log("ignored a report of %zu bytes: %s\n", report.size(),
            hexBytes(report.first(std::min<std::size_t>(report.size(), 3))).c_str());
        return true;
    }
    log("state %s\n", hexBytes(next->bytes).c_str());
    buildReport(*next, lastReport_);
    const std::vector<input::InputEvent> events = gamepadEvents(state_, *next);
    state_ = *next;
    if (!events.empty() && !gamepad_.emit(events) && !toldGamepadFailure_) {
        // The HID side goes on: a later report may get through.
        toldGamepadFailure_ = true;
        std::fputs("pellvane-vpad: the game controller did not take a change\n", notices_);
    }
    return true;
}

bool VirtualPad::answerSetReport(const UhidEvent& event) {
    // A state report may come this way too (hidraw's HIDIOCSOUTPUT, say).
    const bool isState = event.reportType == UhidReportType::output &&
                         event.reportNumber == reportIdByte &&
                         stateFromReport(event.data).has_value();
    if (!hid_.answerSetReport(event.requestId, isState ? 0 : EIO)) {
        return false;
    }
    return !isState || applyReport(event.data);
}

bool VirtualPad::answerGetReport(const UhidEvent& event) {
    if (event.reportType == UhidReportType::output && event.reportNumber == reportIdByte) {
        return hid_.answerGetReport(event.requestId, 0, lastReport_);
    }
    if (event.reportType == UhidReportType::input && event.reportNumber == auxReportId) {
        std::array<std::uint8_t, 1 + reportPayloadSize> empty{auxReportId};
        return hid_.answerGetReport(event.requestId, 0, empty);
    }
    return hid_.answerGetReport(event.requestId, EIO, {});
}

void VirtualPad::log(const char* format, ...) {
    if (!debug_) {
        return;
    }
    std::fputs("pellvane-vpad: ", notices_);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(notices_, format, arguments);
    va_end(arguments);
    std::fflush(notices_);
}

}  // namespace pellvane::vpad
