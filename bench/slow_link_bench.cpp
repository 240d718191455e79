// A pad on a slow link while channel events of 65 KB are relayed to it: how much of the
// link it gets, how many events reach it whole, how many are skipped for it, and whether it
// keeps its session. Run through bench/slow_link_bench.sh, which gives the program a network
// namespace of its own whose loopback carries the pad service's TCP port at 2 Mbit/s.
// Usage: slow_link_bench [DNS-SD library]; with PELLVANE_SHAPE_COMMAND set, that command is
// run with the pad service's port as its argument once the server has started.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench/bench_delegates.h"
#include "bench/bench_support.h"
#include "bench/pad_client.h"
#include "platform/sockets.h"
#include "server/dnssd_binding.h"
#include "server/frame_decoder.h"
#include "server/wire_building.h"
#include "server/zarvo_server.h"

namespace {

using namespace pellvane;
using bench::Clock;

constexpr std::size_t eventBody = 65535 - 12;
constexpr auto runTime = std::chrono::seconds(10);

struct PadReading {
    std::atomic<std::uint64_t> bytes{0};
    std::atomic<std::uint64_t> events{0};
    std::atomic<bool> closed{false};
    std::atomic<bool> ending{false};
};

// Reads everything the link brings, as a pad app does.
void readPad(net::SocketHandle pad, PadReading& reading) {
    net::setNonBlocking(pad);
    FrameDecoder stream;
    while (!reading.ending.load()) {
        net::ReadinessFlags flags;
        const net::SocketHandle sockets[] = {pad};
        if (net::waitForReadiness(sockets, {&flags, 1}, 100) <= 0 || !flags.readable) {
            continue;
        }
        const std::span<std::uint8_t> room = stream.receiveSpace();
        const int received = net::receiveSome(pad, room.data(), room.size());
        if (received == 0 || received == net::transferFailed) {
            reading.closed.store(true);
            return;
        }
        if (received < 0) {
            continue;
        }
        stream.received(static_cast<std::size_t>(received));
        reading.bytes += static_cast<std::uint64_t>(received);
        while (const auto message = stream.next()) {
            if (message->header.type == wire::ChannelEvent) {
                ++reading.events;
            }
        }
    }
}

void relayAt(ZarvoServer& server, double eventsPerSecond, const char* label) {
    const net::SocketHandle pad = bench::admitPadClient(server.tcpPort());
    if (pad == net::invalidSocket) {
        std::printf("%s: the pad was not admitted\n", label);
        return;
    }
    PadReading reading;
    std::thread reader([&] { readPad(pad, reading); });
    const Message event = wire::buildChannelEvent(std::vector<std::uint8_t>(eventBody, 0x5A));
    const std::uint64_t skippedBefore = server.skippedBroadcasts();
    const auto gap = std::chrono::duration<double>(1.0 / eventsPerSecond);
    const auto start = Clock::now();
    int sent = 0;
    while (Clock::now() - start < runTime) {
        server.broadcast(event);
        ++sent;
        std::this_thread::sleep_until(start +
                                      std::chrono::duration_cast<Clock::duration>(gap * sent));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));  // what is under way arrives
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    reading.ending.store(true);
    reader.join();
    const double kbits = static_cast<double>(reading.bytes.load()) * 8 / 1000 / seconds;
    const std::uint64_t received = reading.events.load();
    const std::uint64_t skipped = server.skippedBroadcasts() - skippedBefore;
    std::printf(
        "%s: %d events offered (%.0f kbit/s), %llu received whole, %llu skipped, %llu "
        "still on the way\n",
        label, sent, eventsPerSecond * static_cast<double>(event.size()) * 8 / 1000,
        static_cast<unsigned long long>(received), static_cast<unsigned long long>(skipped),
        static_cast<unsigned long long>(static_cast<std::uint64_t>(sent) - received - skipped));
    bench::printRow("  received rate (the link carries 2000 kbit/s)", kbits, "kbit/s",
                    kbits / 2000);
    std::printf("  the pad %s\n", reading.closed.load() ? "was DROPPED" : "kept its session");
    net::closeSocket(pad);
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
    bench::AdmittingDelegate delegate;
    ZarvoServer server(nullptr, "_kesp._tcp", "");
    server.setDelegate(&delegate);
    if (server.start() == ZarvoServer::startFailed) {
        std::fprintf(stderr, "the pad server did not start\n");
        return 1;
    }
    if (const char* shape = std::getenv("PELLVANE_SHAPE_COMMAND")) {
        const std::string command = std::string(shape) + " " + std::to_string(server.tcpPort());
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "could not shape the link: %s\n", command.c_str());
            return 1;
        }
        std::printf("pad link shaped by: %s\n", command.c_str());
    } else {
        std::printf("pad link not shaped (loopback at full speed)\n");
    }
    relayAt(server, 3.5, "at the link's rate (about 1.8 Mbit/s)");
    relayAt(server, 8.0, "above the link's rate (about 4.2 Mbit/s)");
    server.shutDown();
    net::stopSocketLibrary();
    return 0;
}
