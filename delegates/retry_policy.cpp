#include "delegates/retry_policy.h"

#include <algorithm>

#include "server/zarvo_server.h"

namespace pellvane {

void RetryPolicy::reset() {
    retryCount_.store(0);
    std::lock_guard guard(outageLock_);
    outageTold_ = false;
    nextPause_ = pauses_.first;
}

void RetryPolicy::serverDidStop(ZarvoServer* server) {
    if (server != nullptr && server->stopCause() == ZarvoServer::StopCause::requested) {
        server->start();  // the user's Disconnect: back at once on new ports
        return;
    }
    const int previous = retryCount_.fetch_add(1);
    if (previous < restartsInARow) {
        if (server != nullptr) {
            server->start();  // a failure stops the server again, which comes back here
        }
        return;
    }
    bool tell = false;
    {
        std::lock_guard guard(outageLock_);
        tell = !outageTold_;
        outageTold_ = true;
    }
    // Armed before the box, which on Windows waits for the user: the service may come back
    // meanwhile. Without a thread for the delayed start the server stays stopped, as it
    // did before background restarts existed; the user is told all the same.
    if (server != nullptr) {
        server->startAfter(takeNextPause());
    }
    if (tell) {
        dialogs_.messageBox(failureText_, applicationCaption, dialogs::okOnly | dialogs::iconError);
    }
}

std::chrono::milliseconds RetryPolicy::takeNextPause() {
    std::lock_guard guard(outageLock_);
    const std::chrono::milliseconds pause = nextPause_;
    nextPause_ = std::min(nextPause_ * 2, pauses_.longest);
    return pause;
}

}  // namespace pellvane
