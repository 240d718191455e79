// Threads that stop when asked: a stop request wakes any wait at once, and the owner joins.
// std::thread serves both platforms (mingw's posix thread model included).
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <system_error>
#include <thread>

namespace pellvane {

// A flag that a worker checks between steps and waits on instead of sleeping.
class StopSignal {
  public:
    void request() {
        {
            std::lock_guard guard(mutex_);
            requested_ = true;
        }
        changed_.notify_all();
    }

    void reset() {
        std::lock_guard guard(mutex_);
        requested_ = false;
    }

    bool requested() const {
        std::lock_guard guard(mutex_);
        return requested_;
    }

    // Waits up to `duration`; true when a stop was requested before or during the wait.
    template <class Rep, class Period>
    bool waitFor(std::chrono::duration<Rep, Period> duration) const {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, duration, [this] { return requested_; });
    }

  private:
    mutable std::mutex mutex_;  // guards requested_
    mutable std::condition_variable changed_;
    bool requested_ = false;
};

// One background thread with its own stop signal.
class WorkerThread {
  public:
    enum class State { idle, running, failedToStart };

    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread() { stopAndJoin(); }

    // Starts `body` on a new thread; false (and state failedToStart) when the system
    // refuses a thread.
    bool start(std::function<void(const StopSignal&)> body) {
        stop_.reset();
        try {
            thread_ = std::thread([this, body = std::move(body)] { body(stop_); });
        } catch (const std::system_error&) {
            state_ = State::failedToStart;
            return false;
        }
        state_ = State::running;
        return true;
    }

    // Asks the thread to stop and waits for it; safe to call when none runs.
    void stopAndJoin() {
        stop_.request();
        if (thread_.joinable()) {
            thread_.join();
        }
        state_ = State::idle;
    }

    State state() const { return state_; }

  private:
    StopSignal stop_;
    std::thread thread_;
    State state_ = State::idle;
};

}  // namespace pellvane
