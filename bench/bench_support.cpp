#include "bench/bench_support.h"

#include <algorithm>
#include <cstdio>

namespace pellvane::bench {

double percentileMicros(std::vector<double> samples, double p) {
    if (samples.empty()) {
        return 0.0;
    }
    std::sort(samples.begin(), samples.end());
    const auto index =
        static_cast<std::size_t>((p / 100.0) * static_cast<double>(samples.size() - 1));
    return samples[index];
}

double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

void printRow(const std::string& label, double value, const std::string& unit, double ratio) {
    if (ratio > 0.0) {
        std::printf("%-52s %12.2f %-8s x%.2f\n", label.c_str(), value, unit.c_str(), ratio);
    } else {
        std::printf("%-52s %12.2f %s\n", label.c_str(), value, unit.c_str());
    }
}

}  // namespace pellvane::bench
