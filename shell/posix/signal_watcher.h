// The terminal's stand-in for the tray menu: SIGHUP asks for Disconnect, SIGINT and SIGTERM
// for Quit. The signals are blocked in every thread and taken synchronously by one watcher
// thread (no handler runs at all), which passes them on as requests to the main thread.
#pragma once

#include <pthread.h>

#include <mutex>

#include "platform/threads.h"
#include "shell/posix/quit_deadline.h"
#include "shell/posix/terminal_events.h"

namespace pellvane::shell {

// Blocks the watched signals in the calling thread, and so in every thread started from it
// afterwards; call before any thread starts. SIGPIPE is ignored: a closed standard output
// or peer must end a write, not the program.
bool blockTerminalSignals();

class SignalWatcher {
  public:
    // A quit also arms `deadline`, so that the process ends even when the main thread is
    // held up (a Disconnect that waits for an open question, say).
    SignalWatcher(TerminalEvents& events, QuitDeadline& deadline);
    ~SignalWatcher() { stop(); }
    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

    bool start();
    // Ends and joins the watcher thread; the deadline is left to the caller afterwards.
    void stop();

  private:
    void watch();

    TerminalEvents& events_;
    QuitDeadline& deadline_;
    std::mutex mutex_;  // guards stopping_, watcher_ and watcherKnown_
    bool stopping_ = false;
    pthread_t watcher_{};
    bool watcherKnown_ = false;
    WorkerThread thread_;
};

}  // namespace pellvane::shell
