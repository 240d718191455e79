// A quit must end the program even when a service thread cannot be joined: the pad
// service's thread waits for a line of standard input while a device's admission question
// is open, and no one may be there to answer. Once armed, the deadline ends the process
// (exit code 0, as an orderly quit) unless the shutdown finished first.
#pragma once

#include <chrono>

#include "platform/threads.h"

namespace pellvane::shell {

class QuitDeadline {
  public:
    explicit QuitDeadline(std::chrono::milliseconds grace) : grace_(grace) {}
    ~QuitDeadline() { cancel(); }
    QuitDeadline(const QuitDeadline&) = delete;
    QuitDeadline& operator=(const QuitDeadline&) = delete;

    // Starts the count; later calls change nothing. Safe from any one thread.
    void arm();
    // The shutdown is done: the count stops and its thread is joined.
    void cancel();

  private:
    const std::chrono::milliseconds grace_;
    WorkerThread timer_;
};

}  // namespace pellvane::shell
