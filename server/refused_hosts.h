// Hosts whose devices the user refused a moment ago. A refused host that asks again at once is
// refused without a question for a while, longer after each refusal, so that nobody is made to
// answer box after box (and one slip does not admit a stranger).
#pragma once

#include <chrono>
#include <map>

#include "platform/sockets.h"

namespace pellvane {

class RefusedHosts {
  public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::seconds firstPause{5};
    static constexpr std::chrono::seconds longestPause{5 * 60};
    // A host refused no more for this long starts afresh.
    static constexpr std::chrono::hours forgetAfter{1};

    // Whether a Hello from `host` is refused now without asking.
    bool refusesNow(const net::HostAddress& host, Clock::time_point now);
    // The user refused `host`: its pause starts, twice as long as the one before.
    void noteRefusal(const net::HostAddress& host, Clock::time_point now);
    // The user admitted `host`: its refusals are forgotten.
    void forget(const net::HostAddress& host) { hosts_.erase(host); }

  private:
    struct HostOrder {
        bool operator()(const net::HostAddress& a, const net::HostAddress& b) const;
    };
    struct Record {
        int refusals = 0;
        Clock::time_point lastRefusal;
        Clock::time_point refusedUntil;
    };
    void forgetQuietHosts(Clock::time_point now);

    std::map<net::HostAddress, Record, HostOrder> hosts_;
};

}  // namespace pellvane
