// Waiting in tests for what another thread brings about, with a bound generous enough for a
// loaded machine: the wait ends as soon as the condition holds.
#pragma once

#include <chrono>
#include <thread>

namespace pellvane::testing {

// Polls until the condition holds (true) or `limit` passes (false).
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace pellvane::testing
