#include "controller/vigem_client.h"

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "controller/vigem_requests.h"
#include "platform/debug_output.h"

namespace pellvane::vigem {
namespace {

[[gnu::format(printf, 1, 2)]] void busLine(const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    debug::outputNarrow(line);
}

}  // namespace

BusClient::BusClient(platform::GamepadBus& bus, RequestLimits limits)
    : bus_(bus), limits_(limits) {}

BusClient::~BusClient() {
    disconnect();
}

bool BusClient::connect() {
    if (connected()) {
        return true;
    }
    std::vector<std::string> paths;
    if (!bus_.busPaths(paths)) {
        busLine("Gamepad bus: the list of buses cannot be had: %u\n", bus_.lastError());
        return false;
    }
    for (const std::string& path : paths) {
        const platform::BusHandle handle = bus_.open(path);
        if (handle == platform::nullBusHandle) {
            busLine("Gamepad bus: cannot open a bus: %u\n", bus_.lastError());
            continue;
        }
        if (!acceptsOurVersion(handle)) {
            busLine("Gamepad bus: a bus refused interface version %u: %u\n", commonVersion,
                    bus_.lastError());
            bus_.close(handle);
            continue;
        }
        handle_ = handle;
        absenceReported_ = false;
        busLine("Gamepad bus: connected\n");
        return true;
    }
    // Said once until a bus turns up: each admission without one looks again.
    if (paths.empty() && !absenceReported_) {
        busLine("Gamepad bus: not found\n");
        absenceReported_ = true;
    }
    return false;
}

bool BusClient::acceptsOurVersion(platform::BusHandle handle) {
    const auto request = checkVersionRequest();
    return bus_.control(handle, checkVersionCode, request, limits_.versionCheck);
}

bool BusClient::plugIn() {
    if (pluggedIn()) {
        return true;
    }
    if (!connected()) {
        return false;
    }
    for (std::uint32_t serial = firstSerial; serial <= lastSerial; ++serial) {
        if (!control(plugInTargetCode, plugInRequest(serial), limits_.plugIn)) {
            continue;
        }
        serial_ = serial;
        // A bus older than the request says so at once; the controller is plugged in all
        // the same, and its first report shows whether it took.
        if (!control(waitDeviceReadyCode, waitDeviceReadyRequest(serial), limits_.deviceReady)) {
            busLine("Gamepad bus: no word that the controller is ready: %u\n", bus_.lastError());
        }
        busLine("Gamepad bus: Xbox 360 controller plugged in as %u\n", serial);
        return true;
    }
    busLine("Gamepad bus: no free slot for a controller: %u\n", bus_.lastError());
    return false;
}

bool BusClient::submit(const xusb::Report& report) {
    if (!pluggedIn()) {
        return false;
    }
    if (!control(xusbSubmitReportCode, submitReportRequest(serial_, report), limits_.submit)) {
        busLine("Gamepad bus: report refused: %u\n", bus_.lastError());
        return false;
    }
    return true;
}

void BusClient::unplug() {
    if (!pluggedIn()) {
        return;
    }
    // A refusal leaves nothing to do: the controller is gone already, or goes with the
    // bus handle when that closes.
    if (!control(unplugTargetCode, unplugRequest(serial_), limits_.unplug)) {
        busLine("Gamepad bus: unplug refused: %u\n", bus_.lastError());
    } else {
        busLine("Gamepad bus: controller unplugged\n");
    }
    serial_ = 0;
}

void BusClient::disconnect() {
    unplug();
    if (connected()) {
        bus_.close(handle_);
        handle_ = platform::nullBusHandle;
    }
}

bool BusClient::control(std::uint32_t code, std::span<const std::uint8_t> request,
                        std::chrono::milliseconds limit) {
    return bus_.control(handle_, code, request, limit);
}

}  // namespace pellvane::vigem
