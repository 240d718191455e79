#include "shell/posix/terminal_events.h"

namespace pellvane::shell {

void TerminalEvents::post(TerminalRequest request) {
    {
        std::lock_guard guard(mutex_);
        requests_.push_back(request);
    }
    posted_.notify_one();
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

}  // namespace pellvane::shell
