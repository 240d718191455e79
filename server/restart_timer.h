// The delayed start of a stopped server: one action run after a pause on a thread of the
// timer's own, so that nobody has to sleep on a thread that has other work (a loop thread,
// the thread that showed a message box). Arming again replaces the pending pause, a cancel
// drops it, and end() stops the thread and joins it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace pellvane {

class RestartTimer {
  public:
    explicit RestartTimer(std::function<void()> action) : action_(std::move(action)) {}
    ~RestartTimer() { end(); }
    RestartTimer(const RestartTimer&) = delete;
    RestartTimer& operator=(const RestartTimer&) = delete;

    // Runs the action once `pause` from now, starting the thread on first use. False when
    // the timer has ended or the system refuses a thread.
    bool arm(std::chrono::milliseconds pause);
    void cancel();
    bool pending() const;
    // For good: drops what is pending and joins the thread, which may be inside the action.
    // Must not run on the timer's own thread, nor while holding a lock the action takes.
    void end();

  private:
    void run();

    const std::function<void()> action_;
    // Guards everything below. The action runs without it, so that it may arm or cancel.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool ended_ = false;
    std::thread thread_;
};

}  // namespace pellvane
