// The connections a server has accepted but not yet admitted: where each comes from, when it
// came, and whether its first whole message has arrived. Connections that never speak, or a
// host that opens many, must not hold the service's slots and lock real devices out.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/sockets.h"

namespace pellvane {

class PendingConnections {
  public:
    using Clock = std::chrono::steady_clock;

    // The time a connection has to deliver its first whole message before it is closed.
    static constexpr std::chrono::milliseconds defaultFirstMessageTime{10'000};
    // Connections from one host that may wait for admission at the same time.
    static constexpr std::uint32_t perHostLimit = 8;

    void setFirstMessageTime(std::chrono::milliseconds time) { firstMessageTime_ = time; }

    void add(net::SocketHandle socket, const net::HostAddress& host, Clock::time_point now);
    // Removing an absent connection changes nothing.
    void remove(net::SocketHandle socket);
    void clear() { entries_.clear(); }
    bool contains(net::SocketHandle socket) const;
    std::uint32_t count() const { return static_cast<std::uint32_t>(entries_.size()); }
    std::uint32_t countFrom(const net::HostAddress& host) const;

    // The connection that has waited longest; invalidSocket when none waits.
    net::SocketHandle oldest() const;
    void firstMessageArrived(net::SocketHandle socket);
    // The connections whose first message is overdue at `now`.
    std::vector<net::SocketHandle> overdue(Clock::time_point now) const;
    // When the next first message falls due; nothing when none is awaited.
    std::optional<Clock::time_point> nextDeadline() const;

  private:
    struct Entry {
        net::SocketHandle socket;
        net::HostAddress host;
        Clock::time_point acceptedAt;
        bool spoke;  // its first whole message has arrived
    };
    std::vector<Entry> entries_;  // in the order they were accepted
    std::chrono::milliseconds firstMessageTime_ = defaultFirstMessageTime;
};

}  // namespace pellvane
