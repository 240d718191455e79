// The pad service's key filter: which application is in front, which one the pads' layout
// is meant for, and whether key events must be dropped because the two differ. The loop
// thread (a client's AppName, every key message) and the foreground monitor share it.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string_view>

#include "server/wire_protocol.h"

namespace pellvane {

class KeyFilter {
  public:
    // The wanted name that suits every application.
    static constexpr std::string_view genericAppName = "<generic>";

    // Nothing known in front, an empty wanted name, keys pass: a fresh server's filter.
    void reset();
    // Makes `wanted` the wanted application (null changes nothing) and applies the rule:
    // keys are blocked while an application is known to be in front, the wanted name is not
    // "<generic>", and the two names differ (exactly, byte for byte).
    void applyWantedApp(const wire::AppNameRecord* wanted);
    // Applies the rule again with the wanted application as it is.
    void reapplyWantedApp();
    // Records `fresh` as the application in front; false, and no change, when the name is the
    // one already recorded. The rule is not applied: reapplyWantedApp does that.
    bool replaceForegroundApp(const wire::AppNameRecord& fresh);

    // Read once per key message, without the lock.
    bool keysBlocked() const { return keysBlocked_.load(); }
    wire::AppNameRecord wantedApp() const;
    std::optional<wire::AppNameRecord> foregroundApp() const;

  private:
    void updateKeysBlocked();  // with lock_ held

    // Guards foreground_ and wanted_, and keeps keysBlocked_ in step with the records it was
    // computed from, whichever thread applied the rule last.
    mutable std::mutex lock_;
    std::optional<wire::AppNameRecord> foreground_;
    wire::AppNameRecord wanted_;
    std::atomic<bool> keysBlocked_{false};
};

}  // namespace pellvane
