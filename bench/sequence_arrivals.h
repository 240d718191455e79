// Arrival times of numbered messages, noted by whichever thread receives them and awaited
// by the thread that sent them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

#include "bench/bench_support.h"

namespace pellvane::bench {

class SequenceArrivals {
  public:
    explicit SequenceArrivals(std::chrono::milliseconds lossTimeout) : lossTimeout_(lossTimeout) {}

    // Forgets every arrival and expects sequence numbers below `count`.
    void reset(std::size_t count);
    // Numbers outside the expected range are ignored.
    void arrived(std::uint32_t sequence);
    // The arrival time, or nothing when the message did not come within the loss timeout.
    std::optional<Clock::time_point> waitFor(std::uint32_t sequence);

  private:
    const std::chrono::milliseconds lossTimeout_;
    std::mutex lock_;  // guards times_
    std::condition_variable changed_;
    std::vector<Clock::time_point> times_;  // the epoch until the message arrives
};

}  // namespace pellvane::bench
