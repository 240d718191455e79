#include "shell/posix/terminal_events.h"

#include <fcntl.h>
#include <unistd.h>

namespace pellvane::shell {

TerminalEvents::TerminalEvents() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeReader_.reset(ends[0]);
        wakeWriter_.reset(ends[1]);
    }
}

void TerminalEvents::post(TerminalRequest request) {
    {
        std::lock_guard guard(mutex_);
        requests_.push_back(request);
    }
    posted_.notify_one();
    if (wakeWriter_) {
        const char byte = 1;
        // A full pipe already wakes the reader.
        [[maybe_unused]] const ssize_t written = ::write(wakeWriter_.get(), &byte, 1);
    }
}

std::optional<TerminalRequest> TerminalEvents::waitFor(std::chrono::milliseconds timeout) {
    std::unique_lock guard(mutex_);
    if (!posted_.wait_for(guard, timeout, [this] { return !requests_.empty(); })) {
        return std::nullopt;
    }
    const TerminalRequest request = requests_.front();
    requests_.pop_front();
    return request;
}

std::optional<TerminalRequest> TerminalEvents::take() {
    std::lock_guard guard(mutex_);
    char chunk[64];
    while (wakeReader_ && ::read(wakeReader_.get(), chunk, sizeof chunk) > 0) {
    }
    if (requests_.empty()) {
        return std::nullopt;
    }
    const TerminalRequest request = requests_.front();
    requests_.pop_front();
    return request;
}

}  // namespace pellvane::shell
