// Clients that a thread other than the loop found unfit to keep, dropped by the loop.
#include <algorithm>

#include "server/zarvo_server.h"

namespace pellvane {

// Called with sendLock_ held, so the loop cannot have closed the socket (and the system
// reused its handle) since the caller took it from the watched set.
void ZarvoServer::requestDrop(net::SocketHandle socket) {
    {
        std::lock_guard guard(lock_);
        if (!watchedSockets_.contains(socket) ||
            std::find(dropRequests_.begin(), dropRequests_.end(), socket) != dropRequests_.end()) {
            return;
        }
        dropRequests_.push_back(socket);
    }
    waker_.wake();
}

void ZarvoServer::dropRequestedClients() {
    std::vector<net::SocketHandle> requested;
    {
        std::lock_guard guard(lock_);
        requested.swap(dropRequests_);
    }
    for (net::SocketHandle socket : requested) {
        dropClient(socket);
    }
}

}  // namespace pellvane
