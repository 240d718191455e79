// What both delegates do when their server stops: restart it three times in a row, then
// tell the user and leave it stopped. A confirmed registration starts the count afresh.
#pragma once

#include <atomic>

#include "platform/dialogs.h"

namespace pellvane {

class ZarvoServer;

inline constexpr wchar_t applicationCaption[] = L"Pellvane Server";

class RetryPolicy {
  public:
    static constexpr int restartsInARow = 3;

    RetryPolicy(dialogs::Dialogs& dialogs, const wchar_t* failureText)
        : dialogs_(dialogs), failureText_(failureText) {}

    void reset() { retryCount_.store(0); }
    // Restarts the server (synchronously: a failing start comes back here before this
    // returns) or, past the restarts, shows the failure box and returns when it is closed.
    void serverDidStop(ZarvoServer* server);
    int retryCount() const { return retryCount_.load(); }

  private:
    dialogs::Dialogs& dialogs_;
    const wchar_t* failureText_;
    // Stops since the last confirmed registration. A stop on another thread ends the loop
    // thread before it gets here, so the two writers never overlap; atomic for readers.
    std::atomic<int> retryCount_{0};
};

}  // namespace pellvane
