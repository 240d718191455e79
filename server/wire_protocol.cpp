#include "server/wire_protocol.h"

#include <algorithm>

namespace pellvane::wire {

std::string_view AppNameRecord::nameView() const {
    const auto end = std::find(name.begin(), name.end(), '\0');
    return std::string_view(name.data(), static_cast<std::size_t>(end - name.begin()));
}

void AppNameRecord::setName(std::string_view text) {
    name.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), nameFieldSize - 1), name.begin());
}

}  // namespace pellvane::wire
