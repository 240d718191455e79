#include "controller/controller_discovery.h"

#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include "controller/hid_console.h"
#include "platform/debug_output.h"

namespace pellvane {
namespace {

using platform::HidHandle;

// A device path is a few hundred bytes; a larger claim is treated as an allocation that
// cannot be had rather than trusted.
constexpr std::size_t detailSizeLimit = 64 * 1024;

bool isHeld(HidHandle handle) {
    return handle != platform::nullHidHandle && handle != platform::invalidHidHandle;
}

// Frees the parsed descriptor on every way out of the match.
class PreparsedDataScope {
  public:
    PreparsedDataScope(platform::Hid& hid, HidHandle handle)
        : hid_(hid), data_(hid.preparsedData(handle)) {}
    ~PreparsedDataScope() {
        if (data_ != platform::nullHidPreparsedData) {
            hid_.freePreparsedData(data_);
        }
    }
    PreparsedDataScope(const PreparsedDataScope&) = delete;
    PreparsedDataScope& operator=(const PreparsedDataScope&) = delete;

    bool obtained() const { return data_ != platform::nullHidPreparsedData; }
    platform::HidPreparsedData get() const { return data_; }

  private:
    platform::Hid& hid_;
    platform::HidPreparsedData data_;
};

// Destroys the interface set on every way out of the search.
class InterfaceSetScope {
  public:
    explicit InterfaceSetScope(platform::Hid& hid) : hid_(hid), set_(hid.openInterfaceSet()) {}
    ~InterfaceSetScope() {
        if (obtained()) {
            hid_.destroyInterfaceSet(set_);
        }
    }
    InterfaceSetScope(const InterfaceSetScope&) = delete;
    InterfaceSetScope& operator=(const InterfaceSetScope&) = delete;

    bool obtained() const { return set_ != platform::invalidHidInterfaceSet; }
    platform::HidInterfaceSet get() const { return set_; }

  private:
    platform::Hid& hid_;
    platform::HidInterfaceSet set_;
};

// Opens the interface at `index`, or answers invalidHidHandle after saying why. The detail
// buffer belongs to this call alone, so it is released exactly once whichever step ends it.
HidHandle openInterfaceAt(platform::Hid& hid, platform::HidInterfaceSet set, std::uint32_t index) {
    const std::size_t size = hid.interfaceDetailSize(set, index);
    std::unique_ptr<std::byte[]> buffer;
    if (size <= detailSizeLimit) {
        buffer.reset(new (std::nothrow) std::byte[std::max<std::size_t>(size, 1)]);
    }
    if (!buffer) {
        printHidLine("Error: OpenDeviceInterface: malloc failed\n");
        return platform::invalidHidHandle;
    }
    const std::span<std::byte> detail(buffer.get(), size);
    if (!hid.interfaceDetail(set, index, detail)) {
        printHidLine("Error: SetupDiGetInterfaceDeviceDetail failed\n");
        return platform::invalidHidHandle;
    }
    const HidHandle handle = hid.openInterface(detail);
    if (!isHeld(handle)) {
        printHidLine("Error: CreateFile failed: %d\n", static_cast<int>(hid.lastError()));
        return platform::invalidHidHandle;
    }
    return handle;
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
            hid.closeHandle(*handle);
        }
        *handle = platform::nullHidHandle;
    }
}

HidHandle findControllerInterface(platform::Hid& hid, std::uint16_t usage) {
    const InterfaceSetScope set(hid);
    if (!set.obtained()) {
        printHidLine("SetupDiGetClassDevs failed: %x\n", static_cast<unsigned>(hid.lastError()));
        return platform::invalidHidHandle;
    }
    debug::outputNarrow("\n....looking for our HID device\n");
    for (std::uint32_t index = 0; hid.interfaceAt(set.get(), index); ++index) {
        const HidHandle handle = openInterfaceAt(hid, set.get(), index);
        if (handle == platform::invalidHidHandle) {
            continue;
        }
        if (!matchesController(hid, handle, usage)) {
            hid.closeHandle(handle);
            continue;
        }
        return handle;
    }
    debug::outputNarrow("Failure: Could not find our HID device \n");
    return platform::invalidHidHandle;
}

bool matchesController(platform::Hid& hid, HidHandle handle, std::uint16_t usage) {
    const PreparsedDataScope preparsed(hid, handle);
    if (!preparsed.obtained()) {
        printHidLine("Error: HidD_GetPreparsedData failed \n");
        return false;
    }
    platform::HidAttributes attributes;
    if (!hid.attributes(handle, attributes)) {
        printHidLine("Error: HidD_GetAttributes failed \n");
        return false;
    }
    if (attributes.vendorId != controllerVendorId || attributes.productId != controllerProductId) {
        return false;
    }
    std::vector<platform::HidUsage> collections;
    if (!hid.topLevelCollections(preparsed.get(), collections)) {
        printHidLine("Error: HidP_GetCaps failed \n");
        return false;
    }
    const platform::HidUsage wanted{controllerUsagePage, usage};
    if (std::find(collections.begin(), collections.end(), wanted) == collections.end()) {
        return false;
    }
    printHidLine("Success: Found my device.. \n");
    return true;
}

}  // namespace pellvane
