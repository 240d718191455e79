// What typing on the injector thread costs and how fast it stops:
//  - handing one key message to the injector thread (the loop thread's whole share of it),
//  - the time a stop takes to return while a long message is being typed, against the
//    50 ms goal, and the records typed after it returned (always 0).
// Usage: typing_bench
#include <atomic>
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

// A keyboard that only counts: the figures are the injector's, not the system's.
class CountingKeyboard final : public keyboard::Keyboard {
  public:
    keyboard::LayoutHandle currentLayout() override { return 0x04090409; }
    std::uint16_t keyForCharacter(char16_t, keyboard::LayoutHandle) override {
        return keyboard::noKeyForCharacter;
    }
    std::uint32_t scanCodeForKey(std::uint32_t, keyboard::LayoutHandle) override { return 0x1E; }
    std::uintptr_t messageExtraInfo() override { return 0; }
    void sendRecord(const keyboard::KeyRecord&) override { records.fetch_add(1); }
    void pause(std::uint32_t) override {}
    void beep(std::uint32_t, std::uint32_t) override {}
    std::atomic<int> records{0};
};

// A KeyDown of `count` entries, each the A key.
ReceivedMessage keyDown(std::uint32_t count) {
    wire::KeyEntry aKey;
    aKey.keyIndex = 0;
    const std::vector<wire::KeyEntry> entries(count, aKey);
    return *wire::wholeMessage(wire::buildKeyMessage(wire::KeyDown, entries));
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

    std::printf("Typing on the injector thread\n");
    bench::printPercentiles("hand-off of one key message", handOff, 0.0, 0.0);
    bench::printPercentiles("stop while a 65 KB message is typed (ratio to 50 ms)", stops,
                            stopGoalMicros, stopGoalMicros);
    bench::printRow("records typed after a stop returned", typedAfterStop, "records");
    return 0;
}
