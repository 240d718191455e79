#include "delegates/held_keys.h"

#include <algorithm>
#include <tuple>

namespace pellvane::keys {
namespace {

using keyboard::KeyRecord;

// Two records name the same key when they differ at most in the release flag (and in
// what the input system attached to them).
bool sameKey(const KeyRecord& a, const KeyRecord& b) {
    return a.wVk == b.wVk && a.wScan == b.wScan &&
           (a.dwFlags & ~keyboard::keyUp) == (b.dwFlags & ~keyboard::keyUp);
}

KeyRecord releaseOf(const KeyRecord& press) {
    KeyRecord release = press;
    release.dwFlags |= keyboard::keyUp;
    return release;
}

}  // namespace

bool HeldKeys::HostOrder::operator()(const net::HostAddress& a, const net::HostAddress& b) const {
    return std::tie(a.family, a.bytes) < std::tie(b.family, b.bytes);
}

void HeldKeys::noteSent(const net::HostAddress& host, const KeyRecord& record) {
    std::vector<KeyRecord>& keys = held_[host];
    auto matches = [&](const KeyRecord& held) { return sameKey(held, record); };
    keys.erase(std::remove_if(keys.begin(), keys.end(), matches), keys.end());
    if ((record.dwFlags & keyboard::keyUp) == 0) {
        keys.push_back(record);
    }
    if (keys.empty()) {
        held_.erase(host);
    }
}

std::vector<KeyRecord> HeldKeys::releaseHost(const net::HostAddress& host) {
    std::vector<KeyRecord> releases;
    const auto found = held_.find(host);
    if (found == held_.end()) {
        return releases;
    }
    const std::vector<KeyRecord> keys = std::move(found->second);
    held_.erase(found);
    for (const KeyRecord& key : keys) {
        // A Shift that another pad still holds stays down for that pad.
        const bool heldElsewhere = std::any_of(held_.begin(), held_.end(), [&](const auto& other) {
            return std::any_of(other.second.begin(), other.second.end(),
                               [&](const KeyRecord& held) { return sameKey(held, key); });
        });
        if (!heldElsewhere) {
            releases.push_back(releaseOf(key));
        }
    }
    return releases;
}

std::vector<KeyRecord> HeldKeys::releaseAll() {
    std::vector<KeyRecord> releases;
    for (const auto& [host, keys] : held_) {
        for (const KeyRecord& key : keys) {
            const bool listed = std::any_of(releases.begin(), releases.end(),
                                            [&](const KeyRecord& r) { return sameKey(r, key); });
            if (!listed) {
                releases.push_back(releaseOf(key));
            }
        }
    }
    held_.clear();
    return releases;
}

bool HeldKeys::holds(const net::HostAddress& host, const KeyRecord& record) const {
    const auto found = held_.find(host);
    return found != held_.end() &&
           std::any_of(found->second.begin(), found->second.end(),
                       [&](const KeyRecord& held) { return sameKey(held, record); });
}

}  // namespace pellvane::keys
