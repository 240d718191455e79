// HID devices: listing the present interfaces with what identifies each, opening one by its
// path and writing output reports to it. Identifying needs no handle that the caller keeps,
// so a search reads every interface's identity first and opens only the one it picks.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pellvane::platform {

// An open device interface. Null means "no handle held"; invalid is what a failed open or
// search answers (the Windows INVALID_HANDLE_VALUE).
using HidHandle = std::intptr_t;
inline constexpr HidHandle nullHidHandle = 0;
inline constexpr HidHandle invalidHidHandle = -1;

// A top-level collection's usage.
struct HidUsage {
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    friend bool operator==(const HidUsage&, const HidUsage&) = default;
};

// The first step of identifying an interface that failed, in the order in which a search
// judges them.
enum class HidIdentifyFailure {
    none,
    allocation,    // the room for its path could not be had (Windows)
    detail,        // the system did not give its path (Windows)
    open,          // it could not be opened to be identified (Windows)
    descriptor,    // its report descriptor could not be had
    attributes,    // its vendor and product could not be had
    capabilities,  // its descriptor names no top-level collection that can be trusted
};

struct HidDeviceInfo {
    std::string path;  // UTF-8; what open() takes. Empty when allocation or detail failed.
    // Each field holds what could be read, zero otherwise: the vendor and product are read
    // even when the descriptor is not, and the usages only when no earlier step failed.
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t usagePage = 0;  // of the first top-level collection
    std::uint16_t usage = 0;
    // Every top-level collection: Windows presents each as an interface of its own, a hidraw
    // node carries all of its device's.
    std::vector<HidUsage> usages;
    HidIdentifyFailure failure = HidIdentifyFailure::none;
    std::uint32_t error = 0;  // the platform's error code right after the failed step
};

class Hid {
  public:
    virtual ~Hid() = default;

    // Appends every present interface, in enumeration order; false when the list itself
    // cannot be had (lastError() says why). Interfaces that fail to identify are listed too.
    virtual bool enumerate(std::vector<HidDeviceInfo>& devices) = 0;

    // Opens for reading and writing, sharing with readers only, writes synchronous;
    // invalidHidHandle when the path names no interface that can be opened so.
    virtual HidHandle open(const std::string& path) = 0;
    virtual void close(HidHandle handle) = 0;

    virtual bool setInputBufferCount(HidHandle handle, std::uint32_t count) = 0;
    // Writes the whole report; returns once the device has taken it, or false when it
    // refuses it or (Linux) does not take it within 50 ms.
    virtual bool write(HidHandle handle, std::span<const std::uint8_t> report) = 0;

    // The platform's error code of the last call that failed on this thread.
    virtual std::uint32_t lastError() = 0;
};

// The operating system's HID services; lives for the whole process.
Hid& systemHid();

}  // namespace pellvane::platform
