#include "server/instance_name.h"

#include <algorithm>

namespace pellvane {
namespace {

bool isUtf8Continuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

}  // namespace

std::string alternativeInstanceName(std::string_view name, int number) {
    const std::string suffix = " (" + std::to_string(number) + ")";
    std::size_t keep = std::min(name.size(), instanceNameLimit - suffix.size());
    while (keep > 0 && keep < name.size() && isUtf8Continuation(name[keep])) {
        --keep;
    }
    return std::string(name.substr(0, keep)) + suffix;
}

}  // namespace pellvane
