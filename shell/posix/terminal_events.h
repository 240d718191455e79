// What the user asks of the running program through signals, queued for the main thread,
// which does the work (the signal watcher only passes the requests on). The descriptor
// lets a main thread that also polls other things (the desktop's bus) wait for requests.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/posix/file_descriptor.h"

namespace pellvane::shell {

enum class TerminalRequest { disconnect, quit };

class TerminalEvents {
  public:
    TerminalEvents();

    void post(TerminalRequest request);
    // The oldest request, or nothing when none comes within `timeout`.
    std::optional<TerminalRequest> waitFor(std::chrono::milliseconds timeout);
    // Readable while a request may be waiting; take() then gets it without waiting.
    int descriptor() const { return wakeReader_.get(); }
    std::optional<TerminalRequest> take();

  private:
    std::mutex mutex_;  // guards requests_
    std::condition_variable posted_;
    std::deque<TerminalRequest> requests_;
    posix::FileDescriptor wakeReader_;
    posix::FileDescriptor wakeWriter_;
};

}  // namespace pellvane::shell
