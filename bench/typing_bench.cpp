// What typing on the injector thread costs and how fast it stops:
//  - handing one key message to the injector thread (the loop thread's whole share of it),
//  - the time a stop takes to return while a long message is being typed, against the
//    50 ms goal, and the records typed after it returned (always 0),
//  - how long a second pad's key press waits while another pad's backlog of long messages
//    is being typed, against the typing time of one such message (at most 1).
// The keyboard only counts, but the pauses between records are the real 21 ms.
// Usage: typing_bench
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "delegates/key_injector_thread.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"

namespace {

using namespace pellvane;
using bench::Clock;

constexpr int handOffSamples = 200;
constexpr int stopSamples = 50;
constexpr double stopGoalMicros = 50'000.0;
constexpr int fairnessSamples = 6;
constexpr int backlogMessages = 300;
constexpr std::uint32_t backlogEntries = 50;
constexpr std::uint16_t secondPadScan = 0x53;  // the S key, which only the second pad types

// A keyboard that only counts, and notes when the second pad's key came: the figures are
// the injector's, not the system's. Scan codes are the virtual keys themselves.
class CountingKeyboard final : public keyboard::Keyboard {
  public:
    keyboard::LayoutHandle currentLayout() override { return 0x04090409; }
    std::uint16_t keyForCharacter(char16_t, keyboard::LayoutHandle) override {
        return keyboard::noKeyForCharacter;
    }
    std::uint32_t scanCodeForKey(std::uint32_t virtualKey, keyboard::LayoutHandle) override {
        return virtualKey;
    }
    std::uintptr_t messageExtraInfo() override { return 0; }
    void sendRecord(const keyboard::KeyRecord& record) override {
        if (record.wScan == secondPadScan) {
            secondPadTyped.store(Clock::now().time_since_epoch().count());
        }
        records.fetch_add(1);
    }
    void pause(std::uint32_t) override {}
    void beep(std::uint32_t, std::uint32_t) override {}
    std::atomic<int> records{0};
    std::atomic<Clock::rep> secondPadTyped{0};  // 0: not yet
};

// A KeyDown of `count` entries, each the key at `keyIndex` (0 is A, 1 is S).
ReceivedMessage keyDown(std::uint32_t count, std::uint32_t keyIndex = 0) {
    wire::KeyEntry key;
    key.keyIndex = keyIndex;
    const std::vector<wire::KeyEntry> entries(count, key);
    return *wire::wholeMessage(wire::buildKeyMessage(wire::KeyDown, entries));
}

// The time until a second pad's press is typed while the first pad's backlog is typed, each
// sample sent at another point of the message under way.
std::vector<double> secondPadWaits(CountingKeyboard& keyboard, keys::KeyInjectorThread& injector,
                                   double messageMicros) {
    const net::HostAddress firstPad{net::Family::ipv4, {10, 0, 0, 1}};
    const net::HostAddress secondPad{net::Family::ipv4, {10, 0, 0, 2}};
    const ReceivedMessage longMessage = keyDown(backlogEntries);
    std::vector<double> waits;
    for (int i = 0; i < fairnessSamples; ++i) {
        injector.resume();
        for (int m = 0; m < backlogMessages; ++m) {
            injector.enqueue(nullptr, longMessage, firstPad);  // those past the bound are dropped
        }
        const auto offset = messageMicros * (0.1 + 0.8 * i / (fairnessSamples - 1));
        std::this_thread::sleep_for(std::chrono::microseconds(static_cast<long>(offset)));
        keyboard.secondPadTyped.store(0);
        const auto start = Clock::now();
        injector.enqueue(nullptr, keyDown(1, 1), secondPad);
        while (keyboard.secondPadTyped.load() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const Clock::time_point typed{Clock::duration(keyboard.secondPadTyped.load())};
        waits.push_back(std::chrono::duration<double, std::micro>(typed - start).count());
        injector.stopTyping();
    }
    injector.resume();
    return waits;
}

}  // namespace

int main() {
    CountingKeyboard keyboard;
    keys::KeyInjectorThread injector(keyboard);

    std::vector<double> handOff;
    const ReceivedMessage small = keyDown(1);
    for (int i = 0; i < handOffSamples; ++i) {
        ReceivedMessage copy = small;
        const auto start = Clock::now();
        injector.enqueue(nullptr, std::move(copy), {});
        handOff.push_back(bench::microsSince(start));
        injector.waitUntilIdle();
    }

    std::vector<double> stops;
    int typedAfterStop = 0;
    const ReceivedMessage longMessage = keyDown(5460);  // the largest message: 65 KB
    for (int i = 0; i < stopSamples; ++i) {
        injector.resume();
        injector.enqueue(nullptr, longMessage, {});
        std::this_thread::sleep_for(std::chrono::milliseconds(30 + i % 21));
        const auto start = Clock::now();
        injector.stopTyping();
        stops.push_back(bench::microsSince(start));
        const int atStop = keyboard.records.load();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        typedAfterStop += keyboard.records.load() - atStop;
    }

    injector.resume();
    const auto messageStart = Clock::now();
    injector.enqueue(nullptr, keyDown(backlogEntries), {});
    injector.waitUntilIdle();
    const double messageMicros = bench::microsSince(messageStart);
    const std::vector<double> waits = secondPadWaits(keyboard, injector, messageMicros);

    std::printf("Typing on the injector thread (a counting keyboard, real 21 ms pauses)\n");
    bench::printPercentiles("hand-off of one key message", handOff, 0.0, 0.0);
    bench::printPercentiles("stop while a 65 KB message is typed (ratio to 50 ms)", stops,
                            stopGoalMicros, stopGoalMicros);
    bench::printRow("records typed after a stop returned", typedAfterStop, "records");
    bench::printRow("typing one message of 50 keys", messageMicros / 1000.0, "ms");
    bench::printPercentiles("second pad's press behind 300 such messages (ratio to one message)",
                            waits, messageMicros, messageMicros);
    const double longestWait = *std::max_element(waits.begin(), waits.end());
    bench::printRow("second pad's longest wait (ratio to one message)", longestWait / 1000.0, "ms",
                    longestWait / messageMicros);
    return 0;
}
