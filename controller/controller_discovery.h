// Finding the virtual controller's two collections among the present HID interfaces and
// opening one handle on each.
#pragma once

#include <cstdint>

#include "controller/controller_device.h"
#include "platform/hid.h"

namespace pellvane {

// What identifies the virtual controller that its driver presents.
inline constexpr std::uint16_t controllerVendorId = 0x00FF;
inline constexpr std::uint16_t controllerProductId = 0xBACC;
inline constexpr std::uint16_t controllerUsagePage = 0xFF00;
inline constexpr std::uint16_t reportCollectionUsage = 1;
inline constexpr std::uint16_t auxCollectionUsage = 2;
inline constexpr std::uint32_t auxInputBufferCount = 10;

// 1 with both handles open; 0 with none left open (and both fields null).
int openControllerHandles(platform::Hid& hid, ControllerDevice* device);
// Closes whichever handles are held and sets both fields to null.
void closeControllerHandles(platform::Hid& hid, ControllerDevice* device);
// The first interface, in enumeration order, of the controller's collection with `usage`
// that opens; invalidHidHandle when there is none. Each call enumerates afresh.
platform::HidHandle findControllerInterface(platform::Hid& hid, std::uint16_t usage);
// Whether the interface is the controller's collection with `usage`; says why not when a
// step of identifying it failed, and says so when it is.
bool matchesController(const platform::HidDeviceInfo& device, std::uint16_t usage);
// Whether any present interface is the controller's, by vendor and product alone: its
// collections need not identify, nor this user be allowed to open it. Says nothing.
bool controllerDevicePresent(platform::Hid& hid);

}  // namespace pellvane
