// Whether a HID device is present at all, from its hidraw sysfs entry alone: unlike a search
// through the Hid seam, it needs no right to open the device node, so it also sees a device
// that this user may not use (and that another program must not present a second time).
// It reads the same tree as the Hid seam (<sys>/class/hidraw/hidrawN/device/uevent).
#pragma once

#include <cstdint>

namespace pellvane::platform {

bool hidrawDevicePresent(std::uint16_t vendorId, std::uint16_t productId);

}  // namespace pellvane::platform
