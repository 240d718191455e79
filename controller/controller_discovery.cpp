#include "controller/controller_discovery.h"

#include <algorithm>
#include <vector>

#include "controller/hid_console.h"
#include "platform/debug_output.h"

namespace pellvane {
namespace {

using platform::HidDeviceInfo;
using platform::HidHandle;
using platform::HidIdentifyFailure;

bool isHeld(HidHandle handle) {
    return handle != platform::nullHidHandle && handle != platform::invalidHidHandle;
}

}  // namespace

int openControllerHandles(platform::Hid& hid, ControllerDevice* device) {
    if (device == nullptr) {
        return 0;
    }
    device->reportHandle = findControllerInterface(hid, reportCollectionUsage);
    if (!isHeld(device->reportHandle)) {
        device->reportHandle = platform::nullHidHandle;
        device->auxHandle = platform::nullHidHandle;
        return 0;
    }
    device->auxHandle = findControllerInterface(hid, auxCollectionUsage);
    if (!isHeld(device->auxHandle)) {
        device->auxHandle = platform::nullHidHandle;
        closeControllerHandles(hid, device);
        return 0;
    }
    if (!hid.setInputBufferCount(device->auxHandle, auxInputBufferCount)) {
        printHidLine("failed HidD_SetNumInputBuffers %d\n", static_cast<int>(hid.lastError()));
        closeControllerHandles(hid, device);
        return 0;
    }
    return 1;
}

void closeControllerHandles(platform::Hid& hid, ControllerDevice* device) {
    if (device == nullptr) {
        return;
    }
    for (HidHandle* handle : {&device->reportHandle, &device->auxHandle}) {
        if (isHeld(*handle)) {
            hid.close(*handle);
        }
        *handle = platform::nullHidHandle;
    }
}

// An interface that matches but will not open (another program holds it for writing, and
// the open admits readers only) does not end the search: a later one may.
HidHandle findControllerInterface(platform::Hid& hid, std::uint16_t usage) {
    std::vector<HidDeviceInfo> devices;
    if (!hid.enumerate(devices)) {
        printHidLine("SetupDiGetClassDevs failed: %x\n", static_cast<unsigned>(hid.lastError()));
        return platform::invalidHidHandle;
    }
    debug::outputNarrow("\n....looking for our HID device\n");
    for (const HidDeviceInfo& device : devices) {
        if (!matchesController(device, usage)) {
            continue;
        }
        const HidHandle handle = hid.open(device.path);
        if (isHeld(handle)) {
            return handle;
        }
        printHidLine("Error: CreateFile failed: %d\n", static_cast<int>(hid.lastError()));
    }
    debug::outputNarrow("Failure: Could not find our HID device \n");
    return platform::invalidHidHandle;
}

// The steps in the order in which the interface was identified: a failure after the
// vendor and product would have ruled the interface out says nothing.
bool matchesController(const HidDeviceInfo& device, std::uint16_t usage) {
    switch (device.failure) {
        case HidIdentifyFailure::allocation:
            printHidLine("Error: OpenDeviceInterface: malloc failed\n");
            return false;
        case HidIdentifyFailure::detail:
            printHidLine("Error: SetupDiGetInterfaceDeviceDetail failed\n");
            return false;
        case HidIdentifyFailure::open:
            printHidLine("Error: CreateFile failed: %d\n", static_cast<int>(device.error));
            return false;
        case HidIdentifyFailure::descriptor:
            printHidLine("Error: HidD_GetPreparsedData failed \n");
            return false;
        case HidIdentifyFailure::attributes:
            printHidLine("Error: HidD_GetAttributes failed \n");
            return false;
        case HidIdentifyFailure::none:
        case HidIdentifyFailure::capabilities:
            break;
    }
    if (device.vendorId != controllerVendorId || device.productId != controllerProductId) {
        return false;
    }
    if (device.failure == HidIdentifyFailure::capabilities) {
        printHidLine("Error: HidP_GetCaps failed \n");
        return false;
    }
    const platform::HidUsage wanted{controllerUsagePage, usage};
    if (std::find(device.usages.begin(), device.usages.end(), wanted) == device.usages.end()) {
        return false;
    }
    printHidLine("Success: Found my device.. \n");
    return true;
}

bool controllerDevicePresent(platform::Hid& hid) {
    std::vector<HidDeviceInfo> devices;
    if (!hid.enumerate(devices)) {
        return false;
    }
    return std::any_of(devices.begin(), devices.end(), [](const HidDeviceInfo& device) {
        return device.vendorId == controllerVendorId && device.productId == controllerProductId;
    });
}

}  // namespace pellvane
