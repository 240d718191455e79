#include "shell/posix/quit_deadline.h"

#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace pellvane::shell {

void QuitDeadline::arm() {
    if (timer_.state() != WorkerThread::State::idle) {
        return;
    }
    timer_.start([grace = grace_](const StopSignal& stop) {
        if (stop.waitFor(grace)) {
            return;
        }
        constexpr std::string_view notice =
            "Pellvane Server: quitting without waiting for the open question.\n";
        // Nothing to do about a failed write: the process ends either way.
        [[maybe_unused]] const ssize_t written =
            ::write(STDERR_FILENO, notice.data(), notice.size());
        // The system closes the sockets, which also withdraws the DNS-SD announcements.
        std::_Exit(0);
    });
}

void QuitDeadline::cancel() {
    timer_.stopAndJoin();
}

}  // namespace pellvane::shell
