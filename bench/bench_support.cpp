#include "bench/bench_support.h"

#include <algorithm>
#include <cstdio>
#include <thread>

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

void printPercentiles(const std::string& label, const std::vector<double>& micros, double base50,
                      double base99) {
    const double p50 = percentileMicros(micros, 50);
    const double p99 = percentileMicros(micros, 99);
    printRow(label + " p50", p50, "us", base50 > 0 ? p50 / base50 : 0.0);
    printRow(label + " p99", p99, "us", base99 > 0 ? p99 / base99 : 0.0);
}

void printAgainstFloor(const std::string& label, const Latencies& run, const Latencies* floor) {
    printPercentiles(label, run.micros,
                     floor == nullptr ? 0.0 : percentileMicros(floor->micros, 50),
                     floor == nullptr ? 0.0 : percentileMicros(floor->micros, 99));
}

void sendAndTime(std::chrono::milliseconds gap, bool measured, const std::function<void()>& send,
                 const std::function<std::optional<Clock::time_point>()>& arrival,
                 Latencies& into) {
    std::this_thread::sleep_for(gap);
    const auto sent = Clock::now();
    send();
    const auto arrived = arrival();
    if (!arrived) {
        ++into.lost;
    } else if (measured) {
        into.micros.push_back(std::chrono::duration<double, std::micro>(*arrived - sent).count());
    }
}

const char* dnssdLibraryPath(int argc, char** argv) {
    if (argc > 1) {
        return argv[1];
    }
#ifdef PELLVANE_FAKE_DNSSD
    return PELLVANE_FAKE_DNSSD;
#else
    return nullptr;
#endif
}

}  // namespace pellvane::bench
