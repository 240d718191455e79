#include "delegates/retry_policy.h"

#include "server/zarvo_server.h"

namespace pellvane {

void RetryPolicy::serverDidStop(ZarvoServer* server) {
    const int previous = retryCount_.fetch_add(1);
    if (previous < restartsInARow) {
        if (server != nullptr) {
            server->start();  // a failure stops the server again, which comes back here
        }
        return;
    }
    dialogs_.messageBox(failureText_, applicationCaption, dialogs::okOnly | dialogs::iconError);
}

}  // namespace pellvane
