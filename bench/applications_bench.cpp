// What building the application list for a HelloReply costs on a busy desktop: 1000
// processes and 5000 top-level windows, held in memory so that only the walk is measured.
// The per-process walk asks for every window once per process; the single walk collects
// the window owners once. Both must give the same list.
#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "delegates/application_list.h"

namespace {

using namespace pellvane;
using bench::Clock;

constexpr std::uint32_t processCount = 1000;
constexpr std::size_t windowCount = 5000;
constexpr std::uint32_t processesWithWindows = 150;
constexpr int rounds = 9;

// Windows numbered 1..n in z-order, each query counted; process ids 4, 8, 12, ... as
// Windows hands them out.
class CountingDesktop final : public desktop::Desktop {
  public:
    CountingDesktop() {
        std::mt19937 random(20261207);
        for (std::uint32_t i = 0; i < processCount; ++i) {
            processIds_.push_back(4 * (i + 1));
        }
        std::uniform_int_distribution<std::uint32_t> owner(0, processesWithWindows - 1);
        std::uniform_int_distribution<std::uint32_t> anyProcess(0, processCount - 1);
        for (std::size_t w = 0; w < windowCount; ++w) {
            // Most windows belong to a few applications; the rest are scattered.
            const std::uint32_t index = w % 5 == 0 ? anyProcess(random) : owner(random) * 6;
            windowOwners_.push_back(processIds_[index % processCount]);
        }
    }

    desktop::WindowHandle foregroundWindow() override { return desktop::noWindow; }
    desktop::WindowHandle topWindow() override {
        ++queries;
        return windowOwners_.empty() ? desktop::noWindow : 1;
    }
    desktop::WindowHandle nextWindow(desktop::WindowHandle window) override {
        ++queries;
        return window < windowOwners_.size() ? window + 1 : desktop::noWindow;
    }
    std::uint32_t windowProcessId(desktop::WindowHandle window) override {
        ++queries;
        return window >= 1 && window <= windowOwners_.size() ? windowOwners_[window - 1] : 0;
    }
    std::size_t enumerateProcesses(std::span<std::uint32_t> ids) override {
        const std::size_t count = std::min(ids.size(), processIds_.size());
        std::copy_n(processIds_.begin(), count, ids.begin());
        return count;
    }
    std::unique_ptr<desktop::ProcessQuery> openProcess(std::uint32_t processId) override {
        return std::make_unique<Query>(processId);
    }
    char pathSeparator() const override { return '\\'; }

    long long queries = 0;

  private:
    class Query final : public desktop::ProcessQuery {
      public:
        explicit Query(std::uint32_t processId)
            : path_("C:\\Program Files\\App" + std::to_string(processId) + "\\app" +
                    std::to_string(processId) + ".exe") {}
        std::size_t moduleFileName(std::span<char> buffer) override {
            const std::size_t length = std::min(path_.size(), buffer.size() - 1);
            std::copy_n(path_.begin(), length, buffer.begin());
            buffer[length] = '\0';
            return length;
        }
        std::size_t processImageFileName(std::span<char>) override { return 0; }
        std::size_t fullProcessImageName(std::span<char>) override { return 0; }

      private:
        std::string path_;
    };

    std::vector<std::uint32_t> processIds_;
    std::vector<std::uint32_t> windowOwners_;
};

struct Measurement {
    long long queries = 0;
    double medianMicros = 0.0;
    std::size_t listed = 0;
    std::vector<wire::AppNameRecord> records;
};

template <class Build>
Measurement measure(CountingDesktop& desktop, Build build) {
    Measurement result;
    std::vector<double> samples;
    for (int round = 0; round < rounds; ++round) {
        desktop.queries = 0;
        const auto start = Clock::now();
        const std::unique_ptr<wire::AppList> list = build(desktop);
        samples.push_back(bench::microsSince(start));
        result.queries = desktop.queries;
        result.listed = list ? list->records.size() : 0;
        if (list) {
            result.records = list->records;
        }
    }
    result.medianMicros = bench::percentileMicros(samples, 50);
    return result;
}

}  // namespace

int main() {
    CountingDesktop desktop;
    std::printf("listApplications: %u processes, %zu top-level windows, median of %d runs\n",
                processCount, windowCount, rounds);
    const Measurement before = measure(desktop, apps::listApplicationsWalkingPerProcess);
    const Measurement after = measure(desktop, apps::listApplications);
    if (before.records != after.records) {
        std::printf("the two walks disagree: %zu and %zu applications\n", before.listed,
                    after.listed);
        return 1;
    }
    std::printf("applications listed by both walks: %zu\n", after.listed);
    bench::printRow("per-process walk: window queries", static_cast<double>(before.queries), "");
    bench::printRow("single walk: window queries", static_cast<double>(after.queries), "",
                    static_cast<double>(before.queries) / static_cast<double>(after.queries));
    bench::printRow("per-process walk: time", before.medianMicros / 1000.0, "ms");
    bench::printRow("single walk: time", after.medianMicros / 1000.0, "ms",
                    before.medianMicros / after.medianMicros);
    return 0;
}
