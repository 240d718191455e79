// Small helpers shared by the benchmark programs: percentiles and table lines.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace pellvane::bench {

using Clock = std::chrono::steady_clock;

// The p-th percentile (0-100) of the samples, in microseconds.
double percentileMicros(std::vector<double> samples, double p);
double microsSince(Clock::time_point start);
// One aligned line: label, value with unit, and an optional ratio.
void printRow(const std::string& label, double value, const std::string& unit, double ratio = 0.0);

}  // namespace pellvane::bench
