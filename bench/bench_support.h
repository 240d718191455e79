// Small helpers shared by the benchmark programs: percentiles, table lines, timing one
// send, and the DNS-SD library to load.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace pellvane::bench {

using Clock = std::chrono::steady_clock;

// The p-th percentile (0-100) of the samples, in microseconds.
double percentileMicros(std::vector<double> samples, double p);
double microsSince(Clock::time_point start);
// One aligned line: label, value with unit, and an optional ratio.
void printRow(const std::string& label, double value, const std::string& unit, double ratio = 0.0);
// The lines "<label> p50" and "<label> p99", each with its ratio to the given base (none
// when the base is 0).
void printPercentiles(const std::string& label, const std::vector<double>& micros, double base50,
                      double base99);

struct Latencies {
    std::vector<double> micros;
    int lost = 0;
};

// printPercentiles with each percentile's ratio to the same percentile of the floor (no
// ratios without a floor).
void printAgainstFloor(const std::string& label, const Latencies& run, const Latencies* floor);

// Waits `gap` so that the message finds its receiver idle, calls `send`, and notes the time
// until `arrival` reports the message came (nothing when it was lost). Only measured sends
// add a sample; every loss counts.
void sendAndTime(std::chrono::milliseconds gap, bool measured, const std::function<void()>& send,
                 const std::function<std::optional<Clock::time_point>()>& arrival, Latencies& into);

// The DNS-SD library named on the command line, else the test library of the build, else
// nullptr.
const char* dnssdLibraryPath(int argc, char** argv);

}  // namespace pellvane::bench
