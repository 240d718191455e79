// What both delegates do when their server stops. A stop that the user or the program asked
// for (Disconnect) restarts it at once and counts for nothing. Failures restart it three
// times in a row; past those the user is told, once per outage, and the server is started
// again in the background after a pause that doubles from 2 s up to 60 s, until a
// registration succeeds. A confirmed registration ends the outage and starts the count afresh.
#pragma once

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform/dialogs.h"

namespace pellvane {

class ZarvoServer;

inline constexpr wchar_t applicationCaption[] = L"Pellvane Server";

// The pauses between background restarts.
struct RetryPauses {
    std::chrono::milliseconds first{2000};
    std::chrono::milliseconds longest{60000};
};

class RetryPolicy {
  public:
    static constexpr int restartsInARow = 3;

    RetryPolicy(dialogs::Dialogs& dialogs, const wchar_t* failureText, RetryPauses pauses = {})
        : dialogs_(dialogs), failureText_(failureText), pauses_(pauses), nextPause_(pauses.first) {}

    // The registration was confirmed: the outage, if any, is over.
    void reset();
    // Restarts the server at once (synchronously: a failing start comes back here before
    // this returns), or, past the restarts, tells the user if this outage has not been told
    // yet and leaves the next start to the server's delayed start.
    void serverDidStop(ZarvoServer* server);
    int retryCount() const { return retryCount_.load(); }

  private:
    std::chrono::milliseconds takeNextPause();

    dialogs::Dialogs& dialogs_;
    const wchar_t* failureText_;
    const RetryPauses pauses_;
    // Failed stops since the last confirmed registration. A stop on another thread ends the
    // loop thread before it gets here, so the two writers never overlap; atomic for readers.
    std::atomic<int> retryCount_{0};
    // Guards the outage below: stops come from the loop, the main and the delayed-start
    // threads, the reset from the loop thread.
    std::mutex outageLock_;
    bool outageTold_ = false;
    std::chrono::milliseconds nextPause_;
};

}  // namespace pellvane
