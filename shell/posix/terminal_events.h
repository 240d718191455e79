// What the user asks of the running program through signals, queued for the main thread,
// which does the work (the signal watcher only passes the requests on).
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace pellvane::shell {

enum class TerminalRequest { disconnect, quit };

class TerminalEvents {
  public:
    void post(TerminalRequest request);
    // The oldest request, or nothing when none comes within `timeout`.
    std::optional<TerminalRequest> waitFor(std::chrono::milliseconds timeout);

  private:
    std::mutex mutex_;  // guards requests_
    std::condition_variable posted_;
    std::deque<TerminalRequest> requests_;
};

}  // namespace pellvane::shell
