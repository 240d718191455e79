#include "bench/sequence_arrivals.h"

namespace pellvane::bench {

void SequenceArrivals::reset(std::size_t count) {
    std::lock_guard guard(lock_);
    times_.assign(count, Clock::time_point{});
}

void SequenceArrivals::arrived(std::uint32_t sequence) {
    const auto now = Clock::now();
    {
        std::lock_guard guard(lock_);
        if (sequence < times_.size()) {
            times_[sequence] = now;
        }
    }
    changed_.notify_all();
}

std::optional<Clock::time_point> SequenceArrivals::waitFor(std::uint32_t sequence) {
    std::unique_lock guard(lock_);
    const bool came = changed_.wait_for(guard, lossTimeout_, [&] {
        return sequence < times_.size() && times_[sequence] != Clock::time_point{};
    });
    return came ? std::optional(times_[sequence]) : std::nullopt;
}

}  // namespace pellvane::bench
