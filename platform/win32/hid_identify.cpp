#include "platform/win32/hid_identify.h"

// The hid headers need windows.h before them; mingw's declare C functions without saying so.
extern "C" {
#include <hidsdi.h>  // brings hidpi.h after the usage types it needs
}

#include <memory>
#include <type_traits>

namespace pellvane::platform::win32 {
namespace {

// Close the identifying handle and free the parsed descriptor on every way out.
struct FileCloser {
    void operator()(HANDLE file) const { CloseHandle(file); }
};
struct PreparsedFreer {
    void operator()(PHIDP_PREPARSED_DATA data) const { HidD_FreePreparsedData(data); }
};
using Preparsed = std::unique_ptr<std::remove_pointer_t<PHIDP_PREPARSED_DATA>, PreparsedFreer>;

HidDeviceInfo& failed(HidDeviceInfo& info, HidIdentifyFailure failure, DWORD error) {
    info.failure = failure;
    info.error = error;
    return info;
}

HidIdentifyFailure failureOf(InterfaceFailure failure) {
    return failure == InterfaceFailure::allocation ? HidIdentifyFailure::allocation
                                                   : HidIdentifyFailure::detail;
}

}  // namespace

// Access 0 with every share mode: the attributes and the descriptor can be had so even of a
// device that another program holds open for writing, which an open for use could not.
// The vendor and product are read whatever the descriptor does; of the failures, the one
// that a search judges first is kept.
HidDeviceInfo identifyInterface(const DeviceInterface& entry) {
    HidDeviceInfo info;
    info.path = narrowPath(entry.path);
    if (entry.failure != InterfaceFailure::none) {
        return failed(info, failureOf(entry.failure), entry.error);
    }
    const HANDLE opened = CreateFileW(entry.path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        return failed(info, HidIdentifyFailure::open, GetLastError());
    }
    const std::unique_ptr<void, FileCloser> file(opened);
    PHIDP_PREPARSED_DATA parsed = nullptr;
    const bool preparsedRead = HidD_GetPreparsedData(file.get(), &parsed) != FALSE;
    const DWORD preparsedError = preparsedRead ? 0 : GetLastError();
    const Preparsed preparsed(preparsedRead ? parsed : nullptr);
    HIDD_ATTRIBUTES attributes = {};
    attributes.Size = sizeof attributes;
    const bool attributesRead = HidD_GetAttributes(file.get(), &attributes) != FALSE;
    const DWORD attributesError = attributesRead ? 0 : GetLastError();
    if (attributesRead) {
        info.vendorId = attributes.VendorID;
        info.productId = attributes.ProductID;
    }
    if (!preparsed) {
        return failed(info, HidIdentifyFailure::descriptor, preparsedError);
    }
    if (!attributesRead) {
        return failed(info, HidIdentifyFailure::attributes, attributesError);
    }
    // HidP_GetCaps leaves the thread's error alone: its status is what is kept of a failure.
    HIDP_CAPS caps = {};
    const NTSTATUS status = HidP_GetCaps(preparsed.get(), &caps);
    if (status != HIDP_STATUS_SUCCESS) {
        return failed(info, HidIdentifyFailure::capabilities, static_cast<DWORD>(status));
    }
    info.usagePage = caps.UsagePage;
    info.usage = caps.Usage;
    info.usages.assign(1, HidUsage{caps.UsagePage, caps.Usage});
    return info;
}

}  // namespace pellvane::platform::win32
