#include "server/restart_timer.h"

#include <system_error>

namespace pellvane {

bool RestartTimer::arm(std::chrono::milliseconds pause) {
    {
        std::lock_guard guard(mutex_);
        if (ended_) {
            return false;
        }
        if (!thread_.joinable()) {
            try {
                thread_ = std::thread([this] { run(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        deadline_ = std::chrono::steady_clock::now() + pause;
    }
    changed_.notify_all();
    return true;
}

void RestartTimer::cancel() {
    std::lock_guard guard(mutex_);
    deadline_.reset();
}

bool RestartTimer::pending() const {
    std::lock_guard guard(mutex_);
    return deadline_.has_value();
}

void RestartTimer::end() {
    std::thread thread;
    {
        std::lock_guard guard(mutex_);
        ended_ = true;
        deadline_.reset();
        thread = std::move(thread_);
    }
    changed_.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

void RestartTimer::run() {
    std::unique_lock guard(mutex_);
    while (!ended_) {
        if (!deadline_) {
            changed_.wait(guard);
            continue;
        }
        const auto deadline = *deadline_;
        changed_.wait_until(guard, deadline);
        // Re-armed, cancelled or ended meanwhile, or woken early: look again.
        if (ended_ || !deadline_ || std::chrono::steady_clock::now() < *deadline_) {
            continue;
        }
        deadline_.reset();
        guard.unlock();
        action_();
        guard.lock();
    }
}

}  // namespace pellvane
