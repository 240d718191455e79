#include "controller/output_report.h"

#include <algorithm>

#include "controller/hid_console.h"

namespace pellvane {

void buildReport(const ControllerState& state,
                 std::span<std::uint8_t, controllerReportSize> report) {
    report[0] = reportIdByte;
    report[1] = reportLengthByte;
    report[2] = reportKindByte;
    std::copy(state.bytes.begin(), state.bytes.end(), report.begin() + reportStateOffset);
}

int writeReport(platform::Hid& hid, ControllerDevice* device, const ControllerState* state) {
    if (device == nullptr || state == nullptr) {
        return 0;
    }
    buildReport(*state, device->report);
    // The handle is synchronous, so this returns once the driver has the report. How many
    // bytes it reports as written is not examined: a report is taken whole or refused.
    if (!hid.write(device->reportHandle, device->report)) {
        printHidLine("failed WriteFile %d\n", static_cast<int>(hid.lastError()));
        return 0;
    }
    return 1;
}

}  // namespace pellvane
