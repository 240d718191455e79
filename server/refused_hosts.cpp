#include "server/refused_hosts.h"

#include <tuple>

namespace pellvane {

bool RefusedHosts::HostOrder::operator()(const net::HostAddress& a,
                                         const net::HostAddress& b) const {
    return std::tie(a.family, a.bytes) < std::tie(b.family, b.bytes);
}

bool RefusedHosts::refusesNow(const net::HostAddress& host, Clock::time_point now) {
    forgetQuietHosts(now);
    const auto found = hosts_.find(host);
    return found != hosts_.end() && now < found->second.refusedUntil;
}

void RefusedHosts::noteRefusal(const net::HostAddress& host, Clock::time_point now) {
    forgetQuietHosts(now);
    Record& record = hosts_[host];
    auto pause = std::chrono::duration_cast<Clock::duration>(firstPause);
    for (int earlier = 0; earlier < record.refusals && pause < longestPause; ++earlier) {
        pause *= 2;
    }
    if (pause > longestPause) {
        pause = longestPause;
    }
    ++record.refusals;
    record.lastRefusal = now;
    record.refusedUntil = now + pause;
}

void RefusedHosts::forgetQuietHosts(Clock::time_point now) {
    std::erase_if(hosts_,
                  [&](const auto& entry) { return now - entry.second.lastRefusal >= forgetAfter; });
}

}  // namespace pellvane
