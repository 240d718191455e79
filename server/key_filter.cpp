#include "server/key_filter.h"

namespace pellvane {

void KeyFilter::reset() {
    std::lock_guard guard(lock_);
    foreground_.reset();
    wanted_ = wire::AppNameRecord{};
    keysBlocked_.store(false);
}

void KeyFilter::applyWantedApp(const wire::AppNameRecord* wanted) {
    if (wanted == nullptr) {
        return;
    }
    std::lock_guard guard(lock_);
    wanted_ = *wanted;
    updateKeysBlocked();
}

void KeyFilter::reapplyWantedApp() {
    std::lock_guard guard(lock_);
    updateKeysBlocked();
}

bool KeyFilter::replaceForegroundApp(const wire::AppNameRecord& fresh) {
    std::lock_guard guard(lock_);
    if (foreground_ && foreground_->nameView() == fresh.nameView()) {
        return false;
    }
    foreground_ = fresh;
    return true;
}

wire::AppNameRecord KeyFilter::wantedApp() const {
    std::lock_guard guard(lock_);
    return wanted_;
}

std::optional<wire::AppNameRecord> KeyFilter::foregroundApp() const {
    std::lock_guard guard(lock_);
    return foreground_;
}

void KeyFilter::updateKeysBlocked() {
    keysBlocked_.store(foreground_.has_value() && wanted_.nameView() != genericAppName &&
                       foreground_->nameView() != wanted_.nameView());
}

}  // namespace pellvane
