// Where the device files and the sysfs tree are looked for: "/dev" and "/sys", unless
// PELLVANE_DEV_ROOT and PELLVANE_SYSFS_ROOT name other folders (tests use trees of their own,
// so that nothing they run reaches this computer's real devices).
#pragma once

#include <string>

namespace pellvane::platform {

std::string devRoot();
std::string sysfsRoot();

// <dev>/name.
std::string devicePath(const std::string& name);

}  // namespace pellvane::platform
