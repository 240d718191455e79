// A fuzz target's own checks: a failed one ends the run with a crash that libFuzzer reports
// and keeps the input for.
#pragma once

#include <cstdlib>

namespace pellvane::fuzzing {

inline void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace pellvane::fuzzing
