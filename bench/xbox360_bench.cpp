// What a gamepad event costs the pad service's loop when the controller is an Xbox 360
// controller on a virtual gamepad bus, where every bus call runs on the controller's own
// thread:
//  - events per second that the loop hands over, with a bus that answers at once and with
//    one that takes 1 ms per report (a busy or stalled bus); the ratio between the two
//    should be near 1, since the loop never waits for the bus,
//  - reports per second that reach each bus, and how many events were merged into a later
//    report while the slow bus kept the queue full.
// Usage: xbox360_bench
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "bench/bench_support.h"
#include "controller/vigem_requests.h"
#include "controller/xbox360_controller.h"

namespace {

using namespace pellvane;
using bench::Clock;

constexpr auto window = std::chrono::seconds(2);

// A bus that takes every request, after `delay` for a report.
class TimedBus : public platform::GamepadBus {
  public:
    explicit TimedBus(std::chrono::microseconds delay) : delay_(delay) {}

    bool busPaths(std::vector<std::string>& paths) override {
        paths.push_back("bench-bus");
        return true;
    }
    platform::BusHandle open(const std::string&) override { return 1; }
    bool control(platform::BusHandle, std::uint32_t code, std::span<const std::uint8_t>,
                 std::chrono::milliseconds) override {
        if (code == vigem::xusbSubmitReportCode) {
            if (delay_.count() > 0) {
                std::this_thread::sleep_for(delay_);
            }
            reports_.fetch_add(1, std::memory_order_relaxed);
        }
        return true;
    }
    void close(platform::BusHandle) override {}
    std::uint32_t lastError() override { return 0; }

    std::uint64_t reports() const { return reports_.load(); }

  private:
    std::chrono::microseconds delay_;
    std::atomic<std::uint64_t> reports_{0};
};

struct Run {
    double eventsPerSecond = 0;
    double reportsPerSecond = 0;
    std::uint64_t events = 0;
    std::uint64_t reports = 0;
};

Run handOver(std::chrono::microseconds reportDelay) {
    TimedBus bus(reportDelay);
    Xbox360Controller controller(bus);
    controller.openController();
    controller.waitUntilIdle();
    const std::uint64_t before = bus.reports();

    wire::GamepadEventBody event{wire::gamepadAxes, {{0, 0.0f}, {1, 0.0f}}};
    Run run;
    const auto start = Clock::now();
    while (Clock::now() - start < window) {
        for (int i = 0; i < 100; ++i) {
            event.pairs[0].value = static_cast<float>(run.events % 256) / 255.0f;
            controller.handleGamepadEvent(event);
            ++run.events;
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.reports = bus.reports() - before;
    run.eventsPerSecond = static_cast<double>(run.events) / seconds;
    run.reportsPerSecond = static_cast<double>(run.reports) / seconds;
    return run;
}

}  // namespace

int main() {
    const Run fast = handOver(std::chrono::microseconds(0));
    const Run slow = handOver(std::chrono::microseconds(1000));
    bench::printRow("events handed over, bus answers at once", fast.eventsPerSecond, "/s");
    bench::printRow("events handed over, bus takes 1 ms a report", slow.eventsPerSecond, "/s",
                    slow.eventsPerSecond / fast.eventsPerSecond);
    bench::printRow("reports reaching the quick bus", fast.reportsPerSecond, "/s");
    bench::printRow("reports reaching the slow bus", slow.reportsPerSecond, "/s");
    bench::printRow(
        "events merged into a later report, slow bus",
        100.0 * static_cast<double>(slow.events - slow.reports) / static_cast<double>(slow.events),
        "%");
    return 0;
}
