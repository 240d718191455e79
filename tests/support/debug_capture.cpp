#include "tests/support/debug_capture.h"

#include <algorithm>

namespace pellvane::testing {

void DebugCapture::debugText(std::string_view text) {
    std::lock_guard guard(mutex_);
    lines_.emplace_back(text);
}

std::vector<std::string> DebugCapture::lines() const {
    std::lock_guard guard(mutex_);
    return lines_;
}

int DebugCapture::count(std::string_view text) const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(std::count(lines_.begin(), lines_.end(), text));
}

void DebugCapture::clear() {
    std::lock_guard guard(mutex_);
    lines_.clear();
}

}  // namespace pellvane::testing
