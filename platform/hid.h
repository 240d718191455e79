// HID device interfaces: enumerating the present ones, opening one, identifying it and
// writing output reports to it. The calls mirror the Windows hid and setupapi services one
// for one, so that the discovery logic in controller/ stays the same on every platform;
// Linux answers them from hidraw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace pellvane::platform {

// An open device interface. Null means "no handle held"; invalid is what a failed open or
// search answers (the Windows INVALID_HANDLE_VALUE).
using HidHandle = std::intptr_t;
inline constexpr HidHandle nullHidHandle = 0;
inline constexpr HidHandle invalidHidHandle = -1;

// A set of present interfaces, taken once and walked by index.
using HidInterfaceSet = std::intptr_t;
inline constexpr HidInterfaceSet invalidHidInterfaceSet = -1;

// The parsed report descriptor of an open interface; null when none was obtained.
using HidPreparsedData = std::intptr_t;
inline constexpr HidPreparsedData nullHidPreparsedData = 0;

struct HidAttributes {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// A top-level collection's usage.
struct HidUsage {
    std::uint16_t usagePage = 0;
    std::uint16_t usage = 0;
    friend bool operator==(const HidUsage&, const HidUsage&) = default;
};

class Hid {
  public:
    virtual ~Hid() = default;

    // The present HID interfaces, or invalidHidInterfaceSet.
    virtual HidInterfaceSet openInterfaceSet() = 0;
    virtual void destroyInterfaceSet(HidInterfaceSet set) = 0;
    // False once `index` is past the end of the set.
    virtual bool interfaceAt(HidInterfaceSet set, std::uint32_t index) = 0;

    // An interface's detail is an opaque record that only the platform reads: first its
    // size, then the record itself in a buffer of that size, then an open of what it names.
    virtual std::size_t interfaceDetailSize(HidInterfaceSet set, std::uint32_t index) = 0;
    virtual bool interfaceDetail(HidInterfaceSet set, std::uint32_t index,
                                 std::span<std::byte> buffer) = 0;
    // Opens for reading and writing, sharing with readers only, synchronous writes.
    virtual HidHandle openInterface(std::span<const std::byte> detail) = 0;
    virtual void closeHandle(HidHandle handle) = 0;

    virtual HidPreparsedData preparsedData(HidHandle handle) = 0;
    virtual void freePreparsedData(HidPreparsedData data) = 0;
    virtual bool attributes(HidHandle handle, HidAttributes& attributes) = 0;
    // The top-level collections the parsed descriptor describes (Windows presents each as
    // its own interface, so it answers one; a hidraw node may carry several).
    virtual bool topLevelCollections(HidPreparsedData data, std::vector<HidUsage>& usages) = 0;

    virtual bool setInputBufferCount(HidHandle handle, std::uint32_t count) = 0;
    // Writes the whole report; returns once the device has taken it, or false when it
    // refuses it or (Linux) does not take it within 50 ms.
    virtual bool writeReport(HidHandle handle, std::span<const std::uint8_t> report) = 0;

    // The platform's error code of the last call that failed on this thread.
    virtual std::uint32_t lastError() = 0;
};

// The operating system's HID services; lives for the whole process.
Hid& systemHid();

}  // namespace pellvane::platform
