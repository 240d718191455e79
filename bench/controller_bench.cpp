// What a gamepad event costs on its way to the virtual controller:
//  - GamepadEvent messages per second through handleGamepadEvent into a report sink,
//  - a GamepadEvent datagram's latency from its send to the report write, through a started
//    pad server whose delegate routes type 8 to the controller, against the floor: the
//    same datagram's one-way trip over loopback to a thread that waits for it.
//  - the same latency while a stranger's admission question stays open: the question is put
//    beside the loop, so the ratio to the run without one should be near 1.
// Usage: controller_bench [DNS-SD library], by default the test library from the build.
#include <array>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bench/bench_delegates.h"
#include "bench/bench_support.h"
#include "bench/loopback_floor.h"
#include "bench/pad_client.h"
#include "controller/virtual_controller.h"
#include "platform/sockets.h"
#include "server/dnssd_binding.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace {

using namespace pellvane;
using bench::Clock;

constexpr auto throughputWindow = std::chrono::seconds(2);
constexpr int warmUpSamples = 100;
constexpr int measuredSamples = 2000;
// Longer than the server loop's pause after a busy pass, so that each datagram finds the
// loop waiting, as an event from a pad that moves a stick now and then does.
constexpr auto gapBetweenDatagrams = std::chrono::milliseconds(2);
constexpr auto lossTimeout = std::chrono::milliseconds(200);

// Counts events as they arrive and lets the sender wait for the next one.
class Arrivals {
  public:
    void arrived() {
        const auto now = Clock::now();
        std::lock_guard guard(lock_);
        ++count_;
        last_ = now;
        changed_.notify_all();
    }

    std::uint64_t count() const {
        std::lock_guard guard(lock_);
        return count_;
    }

    // The time of arrival number `count`, or nothing when it did not come in time.
    std::optional<Clock::time_point> waitFor(std::uint64_t count) {
        std::unique_lock guard(lock_);
        if (!changed_.wait_for(guard, lossTimeout, [&] { return count_ >= count; })) {
            return std::nullopt;
        }
        return last_;
    }

  private:
    mutable std::mutex lock_;  // guards every field below
    std::condition_variable changed_;
    std::uint64_t count_ = 0;
    Clock::time_point last_;
};

// A HID service with the controller's two interfaces whose reports go nowhere but are
// counted, so that the figures are the system's own cost and not a driver's.
class ReportSink final : public platform::Hid {
  public:
    explicit ReportSink(Arrivals* arrivals) : arrivals_(arrivals) {}

    bool enumerate(std::vector<platform::HidDeviceInfo>& devices) override {
        for (const std::uint16_t usage : {std::uint16_t{1}, std::uint16_t{2}}) {
            platform::HidDeviceInfo device;
            device.path = std::to_string(usage);
            device.vendorId = 0x00FF;
            device.productId = 0xBACC;
            device.usagePage = 0xFF00;
            device.usage = usage;
            device.usages.assign(1, {0xFF00, usage});
            devices.push_back(device);
        }
        return true;
    }
    platform::HidHandle open(const std::string& path) override { return path == "1" ? 1 : 2; }
    void close(platform::HidHandle) override {}
    bool setInputBufferCount(platform::HidHandle, std::uint32_t) override { return true; }
    bool write(platform::HidHandle, std::span<const std::uint8_t> report) override {
        checksum_ += report[3];
        if (arrivals_ != nullptr) {
            arrivals_->arrived();
        }
        return true;
    }
    std::uint32_t lastError() override { return 0; }

    unsigned checksum() const { return checksum_; }

  private:
    Arrivals* arrivals_;
    unsigned checksum_ = 0;  // keeps the report bytes alive for the optimiser
};

// A stick moved on both axes, and a button press: the two shapes a pad sends.
Message stickMessage(int step) {
    const float x = static_cast<float>(step % 256) / 255.0f;
    const wire::GamepadPair pairs[] = {{0, x}, {1, 1.0f - x}};
    return wire::buildGamepadEvent(wire::gamepadAxes, pairs);
}

Message buttonMessage(int step) {
    const wire::GamepadPair pair{3, step % 2 == 0 ? 1.0f : 0.0f};
    return wire::buildGamepadEvent(wire::gamepadButton, {&pair, 1});
}

// Decoding the body included, as the pad delegate does it.
void handleGamepadMessage(GamepadController& controller, const ReceivedMessage& message) {
    if (const auto event = wire::readGamepadEvent(message)) {
        controller.handleGamepadEvent(*event);
    }
}

double messagesPerSecond(Message (*makeMessage)(int)) {
    ReportSink sink(nullptr);
    VirtualController controller(sink);
    controller.openController();
    std::vector<ReceivedMessage> messages;
    for (int i = 0; i < 256; ++i) {
        messages.push_back(*wire::wholeMessage(makeMessage(i)));
    }
    std::uint64_t handled = 0;
    const auto start = Clock::now();
    while (Clock::now() - start < throughputWindow) {
        for (const ReceivedMessage& message : messages) {
            handleGamepadMessage(controller, message);
        }
        handled += messages.size();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (sink.checksum() == 1) {
        std::printf(" ");
    }
    return static_cast<double>(handled) / seconds;
}

// The pad delegate's part in this: admit, open the controller on admission, route type 8.
// While questions are held, a question waits until they are let go, as a person who does
// not answer.
class GamepadRoutingDelegate : public bench::AdmittingDelegate {
  public:
    explicit GamepadRoutingDelegate(GamepadController& controller) : controller_(controller) {}

    int shouldAdmitClient(ZarvoServer*, const ReceivedMessage*) override {
        std::unique_lock guard(lock_);
        ++asked_;
        changed_.notify_all();
        changed_.wait(guard, [this] { return !holding_; });
        return 1;
    }
    void holdQuestions(bool hold) {
        std::lock_guard guard(lock_);
        holding_ = hold;
        changed_.notify_all();
    }
    bool waitUntilAsked(int times) {
        std::unique_lock guard(lock_);
        return changed_.wait_for(guard, std::chrono::seconds(5), [&] { return asked_ >= times; });
    }
    void serverDidAdmitClient(ZarvoServer*) override { controller_.openController(); }
    void serverDidReceiveMessage(ZarvoServer*, ReceivedMessage message) override {
        if (message.header.type == wire::GamepadEvent) {
            handleGamepadMessage(controller_, message);
        }
    }

  private:
    GamepadController& controller_;
    std::mutex lock_;  // guards the fields below
    std::condition_variable changed_;
    bool holding_ = false;
    int asked_ = 0;
};

// A device that says Hello and leaves its question open; its socket, or invalidSocket.
net::SocketHandle askingStranger(std::uint16_t port) {
    const net::SocketHandle stranger = net::openSocket(net::Family::ipv4, net::Transport::stream);
    const Message hello = wire::buildHello("stranger");
    if (!net::connectWithin(stranger, net::Family::ipv4, "127.0.0.1", port, 2000) ||
        !net::sendAll(stranger, hello.data(), hello.size(), 2000)) {
        net::closeSocket(stranger);
        return net::invalidSocket;
    }
    return stranger;
}

struct LatencyPath {
    std::uint16_t port = 0;
    Arrivals* arrivals = nullptr;
    bench::Latencies run;
};

// One datagram at a time, alternating between the paths so that both see the same machine.
void measureLatencies(std::span<LatencyPath> paths) {
    const net::SocketHandle sender = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    for (int i = 0; i < warmUpSamples + measuredSamples; ++i) {
        const Message datagram = stickMessage(i);
        for (LatencyPath& path : paths) {
            const std::uint64_t next = path.arrivals->count() + 1;
            bench::sendAndTime(
                gapBetweenDatagrams, i >= warmUpSamples,
                [&] {
                    net::sendDatagram(sender, net::Family::ipv4, "127.0.0.1", path.port,
                                      datagram.data(), datagram.size());
                },
                [&] {
                    const auto arrived = path.arrivals->waitFor(next);
                    if (!arrived) {
                        path.arrivals->waitFor(next);  // a late one must not answer the next send
                    }
                    return arrived;
                },
                path.run);
        }
    }
    net::closeSocket(sender);
}

void printLatency(const char* label, const bench::Latencies& run, const bench::Latencies* floor) {
    bench::printAgainstFloor(label, run, floor);
    if (run.lost > 0) {
        std::printf("  (%d of %d datagrams gave no report within %lld ms)\n", run.lost,
                    warmUpSamples + measuredSamples, static_cast<long long>(lossTimeout.count()));
    }
}

int measureThroughServer(const char* library) {
    Arrivals floorArrivals;
    Arrivals reportArrivals;
    bench::FloorReceiver floor([&](const ReceivedMessage&) { floorArrivals.arrived(); });
    ReportSink sink(&reportArrivals);
    VirtualController controller(sink);
    GamepadRoutingDelegate delegate(controller);
    ZarvoServer server(nullptr, "_kesp._tcp", "");
    server.setDelegate(&delegate);
    int status = 0;
    if (!floor.start()) {
        std::fprintf(stderr, "cannot open the floor's receiving socket\n");
        status = 1;
    } else if (server.start() == ZarvoServer::startFailed) {
        std::fprintf(stderr, "the pad server did not start (DNS-SD library %s)\n", library);
        status = 1;
    } else if (const net::SocketHandle client = bench::admitPadClient(server.tcpPort());
               client == net::invalidSocket) {
        std::fprintf(stderr, "the bench client was not admitted\n");
        status = 1;
    } else {
        const std::uint64_t openingReports = reportArrivals.count();
        std::array<LatencyPath, 2> paths{
            {{floor.datagramPort(), &floorArrivals, {}}, {server.udpPort4(), &reportArrivals, {}}}};
        measureLatencies(paths);
        // The same again while a stranger's question waits for an answer that never comes.
        delegate.holdQuestions(true);
        const net::SocketHandle stranger = askingStranger(server.tcpPort());
        const bool asked = stranger != net::invalidSocket && delegate.waitUntilAsked(2);
        std::array<LatencyPath, 2> asking{
            {{floor.datagramPort(), &floorArrivals, {}}, {server.udpPort4(), &reportArrivals, {}}}};
        if (asked) {
            measureLatencies(asking);
        }
        delegate.holdQuestions(false);
        floor.stop();
        std::printf("%d datagrams of %zu bytes on each path, %lld ms apart (%llu opening report)\n",
                    measuredSamples, stickMessage(0).size(),
                    static_cast<long long>(gapBetweenDatagrams.count()),
                    static_cast<unsigned long long>(openingReports));
        printLatency("loopback UDP one-way (floor)", paths[0].run, nullptr);
        printLatency("GamepadEvent datagram to report write", paths[1].run, &paths[0].run);
        if (asked) {
            std::printf("with a stranger's question open:\n");
            printLatency("loopback UDP one-way (floor)", asking[0].run, nullptr);
            printLatency("GamepadEvent datagram to report write", asking[1].run, &asking[0].run);
            const double without = bench::percentileMicros(paths[1].run.micros, 50);
            const double with = bench::percentileMicros(asking[1].run.micros, 50);
            bench::printRow("p50 with a question open / without", with / without, "x");
            std::printf("  (%d of %d events lost with the question open)\n", asking[1].run.lost,
                        warmUpSamples + measuredSamples);
        } else {
            std::printf("the stranger's question was not put: no figures with one open\n");
        }
        net::closeSocket(stranger);
        net::closeSocket(client);
    }
    server.shutDown();
    controller.closeController();
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    const char* library = bench::dnssdLibraryPath(argc, argv);
    if (library == nullptr) {
        std::fprintf(stderr, "usage: %s DNS-SD-library\n", argv[0]);
        return 2;
    }
    dnssd::LibraryScope scope(library);
    net::startSocketLibrary();

    const double sticks = messagesPerSecond(stickMessage);
    const double buttons = messagesPerSecond(buttonMessage);
    bench::printRow("handleGamepadEvent, 2-axis messages", sticks / 1e6, "M/s");
    bench::printRow("handleGamepadEvent, button messages", buttons / 1e6, "M/s");
    bench::printRow("  per 2-axis message", 1e9 / sticks, "ns");
    bench::printRow("  per button message", 1e9 / buttons, "ns");

    const int status = measureThroughServer(library);
    net::stopSocketLibrary();
    return status;
}
