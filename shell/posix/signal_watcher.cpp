#include "shell/posix/signal_watcher.h"

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

namespace pellvane::shell {
namespace {

// How long one wait for a signal lasts before the watcher looks at its stop request.
constexpr long pollNanoseconds = 200L * 1000 * 1000;

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
    return thread_.start([this](const StopSignal& stop) { watch(stop); });
}

void SignalWatcher::watch(const StopSignal& stop) {
    const sigset_t set = watchedSignals();
    const timespec poll{0, pollNanoseconds};
    while (!stop.requested()) {
        const int signal = sigtimedwait(&set, nullptr, &poll);
        if (signal == SIGHUP) {
            events_.post(TerminalRequest::disconnect);
        } else if (signal == SIGINT || signal == SIGTERM) {
            deadline_.arm();
            events_.post(TerminalRequest::quit);
        }
        // -1 is a timeout (EAGAIN) or an interruption (EINTR): look at the stop request.
    }
}

}  // namespace pellvane::shell
