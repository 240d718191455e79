#include "server/pending_connections.h"

#include <algorithm>

namespace pellvane {

void PendingConnections::add(net::SocketHandle socket, const net::HostAddress& host,
                             Clock::time_point now) {
    if (!contains(socket)) {
        entries_.push_back({socket, host, now, false});
    }
}

void PendingConnections::remove(net::SocketHandle socket) {
    std::erase_if(entries_, [&](const Entry& entry) { return entry.socket == socket; });
}

bool PendingConnections::contains(net::SocketHandle socket) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& entry) { return entry.socket == socket; });
}

std::uint32_t PendingConnections::countFrom(const net::HostAddress& host) const {
    return static_cast<std::uint32_t>(std::count_if(
        entries_.begin(), entries_.end(), [&](const Entry& entry) { return entry.host == host; }));
}

net::SocketHandle PendingConnections::oldest() const {
    return entries_.empty() ? net::invalidSocket : entries_.front().socket;
}

void PendingConnections::firstMessageArrived(net::SocketHandle socket) {
    for (Entry& entry : entries_) {
        if (entry.socket == socket) {
            entry.spoke = true;
        }
    }
}

std::vector<net::SocketHandle> PendingConnections::overdue(Clock::time_point now) const {
    std::vector<net::SocketHandle> late;
    for (const Entry& entry : entries_) {
        if (!entry.spoke && now - entry.acceptedAt >= firstMessageTime_) {
            late.push_back(entry.socket);
        }
    }
    return late;
}

std::optional<PendingConnections::Clock::time_point> PendingConnections::nextDeadline() const {
    // Accepted in order, so the first silent one falls due first.
    for (const Entry& entry : entries_) {
        if (!entry.spoke) {
            return entry.acceptedAt + firstMessageTime_;
        }
    }
    return std::nullopt;
}

}  // namespace pellvane
