#include "shell/posix/signal_watcher.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>

namespace pellvane::shell {
namespace {

// Sent by stop() to the watcher thread alone, to end its wait: the watcher sleeps until a
// signal comes instead of waking up now and then to look for a stop request.
constexpr int wakeSignal = SIGUSR1;

sigset_t watchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

bool blockTerminalSignals() {
    const sigset_t set = watchedSignals();
    if (pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return false;
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

SignalWatcher::SignalWatcher(TerminalEvents& events, QuitDeadline& deadline)
    : events_(events), deadline_(deadline) {}

bool SignalWatcher::start() {
    stopping_ = false;
    watcherKnown_ = false;
    return thread_.start([this](const StopSignal&) { watch(); });
}

void SignalWatcher::stop() {
    {
        std::lock_guard guard(mutex_);
        stopping_ = true;
        if (watcherKnown_) {
            // Stays pending until the watcher waits, if it is not waiting yet.
            pthread_kill(watcher_, wakeSignal);
        }
    }
    thread_.stopAndJoin();
}

void SignalWatcher::watch() {
    sigset_t set = watchedSignals();
    sigaddset(&set, wakeSignal);
    // The wake-up signal is this thread's alone; blocking it here keeps its default action
    // (ending the process) from ever applying.
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    {
        std::lock_guard guard(mutex_);
        watcher_ = pthread_self();
        watcherKnown_ = true;
        if (stopping_) {
            return;
        }
    }
    for (;;) {
        const int signal = sigwaitinfo(&set, nullptr);
        if (signal == SIGHUP) {
            events_.post(TerminalRequest::disconnect);
        } else if (signal == SIGINT || signal == SIGTERM) {
            deadline_.arm();
            events_.post(TerminalRequest::quit);
        } else if (signal == wakeSignal) {
            std::lock_guard guard(mutex_);
            if (stopping_) {
                return;
            }
        }
        // -1 is an interruption (EINTR): wait again.
    }
}

}  // namespace pellvane::shell
