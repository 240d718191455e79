// What identifies one present HID interface: its vendor, product and collection, read
// through a handle that is closed again at once.
#pragma once

#include "platform/hid.h"
#include "platform/win32/device_interfaces.h"

namespace pellvane::platform::win32 {

HidDeviceInfo identifyInterface(const DeviceInterface& entry);

}  // namespace pellvane::platform::win32
