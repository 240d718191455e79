// What the server knows of the hosts of its admitted clients: whose messages they are, and
// when a host's last connection has gone, so that its delegate can let go of what that host
// held down.
#include "server/zarvo_server.h"

namespace pellvane {

net::HostAddress ZarvoServer::admittedHost(net::SocketHandle socket) const {
    std::lock_guard guard(lock_);
    const auto found = admittedPeers_.find(socket);
    return found == admittedPeers_.end() ? net::HostAddress{} : found->second;
}

std::optional<ZarvoServer::LostHost> ZarvoServer::forgetAdmittedLocked(net::SocketHandle socket) {
    const auto found = admittedPeers_.find(socket);
    if (found == admittedPeers_.end()) {
        return std::nullopt;
    }
    const net::HostAddress host = found->second;
    admittedPeers_.erase(found);
    for (const auto& [other, peer] : admittedPeers_) {
        if (peer == host) {
            return std::nullopt;  // the host is still connected
        }
    }
    return LostHost{host, admittedPeers_.empty()};
}

bool ZarvoServer::clientStillWanted(net::SocketHandle socket) const {
    return !loopEnding() && !io_.peerHasGone(socket);
}

}  // namespace pellvane
