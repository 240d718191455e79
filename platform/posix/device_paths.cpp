#include "platform/posix/device_paths.h"

#include <cstdlib>

namespace pellvane::platform {
namespace {

std::string rootFromEnvironment(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    return value != nullptr && *value != '\0' ? value : fallback;
}

}  // namespace

std::string devRoot() {
    return rootFromEnvironment("PELLVANE_DEV_ROOT", "/dev");
}

std::string sysfsRoot() {
    return rootFromEnvironment("PELLVANE_SYSFS_ROOT", "/sys");
}

std::string devicePath(const std::string& name) {
    return devRoot() + "/" + name;
}

}  // namespace pellvane::platform
