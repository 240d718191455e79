// The one wait that a broadcast may spend on clients that do not read, shared by all of
// them: a few slow clients must not hold up the others, the monitor or the channel relay.
#pragma once

#include <chrono>

namespace pellvane {

class BroadcastDeadline {
  public:
    static constexpr std::chrono::milliseconds budget{200};

    BroadcastDeadline() : end_(std::chrono::steady_clock::now() + budget) {}

    // What is left of the wait, never below 0: a send then takes only what fits at once.
    int remainingMs() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end_ - std::chrono::steady_clock::now());
        return left.count() > 0 ? static_cast<int>(left.count()) : 0;
    }

  private:
    std::chrono::steady_clock::time_point end_;
};

}  // namespace pellvane
