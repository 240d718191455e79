// What a started server costs a datagram and an idle machine:
//  - the floor: a datagram's one-way trip over loopback to a thread that waits for it,
//  - the same datagram through a started channel server, up to serverDidReceiveMessage,
//  - the CPU share and wake-ups per second of a started server that has nothing to do.
// Usage: server_bench [DNS-SD library], by default the test library from the build.
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <thread>

#include "bench/bench_delegates.h"
#include "bench/bench_support.h"
#include "bench/loopback_floor.h"
#include "bench/sequence_arrivals.h"
#include "platform/sockets.h"
#include "server/dnssd_binding.h"
#include "server/wire_building.h"
#include "server/zarvo_server.h"

namespace {

using namespace pellvane;
using bench::Clock;

constexpr int warmUpSamples = 100;
constexpr int measuredSamples = 2000;
// Longer than the loop's 1 ms pause after a busy pass, so that every datagram finds the
// server waiting, as a key press from an idle pad does.
constexpr auto gapBetweenDatagrams = std::chrono::milliseconds(2);
constexpr auto lossTimeout = std::chrono::milliseconds(200);
constexpr auto idleSettle = std::chrono::seconds(1);
constexpr auto idleWindow = std::chrono::seconds(10);
constexpr std::size_t datagramSize = 24;  // a ChannelEvent with a small body

// The sequence number travels in the header's argument, which a ChannelEvent carries unread.
Message makeDatagram(std::uint32_t sequence) {
    return wire::buildMessage(wire::ChannelEvent, sequence,
                              Message(datagramSize - wire::headerSize, 0));
}

std::uint32_t sequenceOf(const ReceivedMessage& datagram) {
    return datagram.header.argument;
}

// One way for a datagram to go: where it is sent and who notes its arrival.
struct LatencyPath {
    std::uint16_t port = 0;
    bench::SequenceArrivals* arrivals = nullptr;
    bench::Latencies run;
};

// Sends numbered datagrams one at a time, alternating between the paths so that both see
// the same machine (other work on it shifts both alike), and waits for each to arrive.
void measureLatencies(std::span<LatencyPath> paths) {
    const net::SocketHandle sender = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    for (LatencyPath& path : paths) {
        path.arrivals->reset(warmUpSamples + measuredSamples);
    }
    for (int i = 0; i < warmUpSamples + measuredSamples; ++i) {
        const auto sequence = static_cast<std::uint32_t>(i);
        const Message datagram = makeDatagram(sequence);
        for (LatencyPath& path : paths) {
            bench::sendAndTime(
                gapBetweenDatagrams, i >= warmUpSamples,
                [&] {
                    net::sendDatagram(sender, net::Family::ipv4, "127.0.0.1", path.port,
                                      datagram.data(), datagram.size());
                },
                [&] { return path.arrivals->waitFor(sequence); }, path.run);
        }
    }
    net::closeSocket(sender);
}

struct IdleCost {
    double cpuPercent = 0.0;
    double cpuMicros = 0.0;
    double wakeUpsPerSecond = 0.0;
    double wakeUps = 0.0;
};

double cpuSeconds(const rusage& usage) {
    auto seconds = [](const timeval& time) {
        return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double contextSwitches(const rusage& usage) {
    return static_cast<double>(usage.ru_nvcsw + usage.ru_nivcsw);
}

// The whole process minus this (sleeping) thread: what the server's threads spent.
IdleCost measureIdle() {
    std::this_thread::sleep_for(idleSettle);
    rusage processBefore{}, threadBefore{}, processAfter{}, threadAfter{};
    getrusage(RUSAGE_SELF, &processBefore);
    getrusage(RUSAGE_THREAD, &threadBefore);
    const auto start = Clock::now();
    std::this_thread::sleep_for(idleWindow);
    getrusage(RUSAGE_SELF, &processAfter);
    getrusage(RUSAGE_THREAD, &threadAfter);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

    const double cpu = (cpuSeconds(processAfter) - cpuSeconds(processBefore)) -
                       (cpuSeconds(threadAfter) - cpuSeconds(threadBefore));
    const double switches = (contextSwitches(processAfter) - contextSwitches(processBefore)) -
                            (contextSwitches(threadAfter) - contextSwitches(threadBefore));
    // The process and thread figures are sampled a moment apart: an idle server can come
    // out a microsecond below zero.
    const double serverCpu = std::max(cpu, 0.0);
    const double serverSwitches = std::max(switches, 0.0);
    return {100.0 * serverCpu / elapsed, serverCpu * 1e6, serverSwitches / elapsed, serverSwitches};
}

void printLatency(const char* label, const bench::Latencies& run, const bench::Latencies* floor) {
    bench::printAgainstFloor(label, run, floor);
    if (run.lost > 0) {
        std::printf("  (%d of %d datagrams did not arrive within %lld ms)\n", run.lost,
                    warmUpSamples + measuredSamples, static_cast<long long>(lossTimeout.count()));
    }
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

    std::printf("%d datagrams of %zu bytes on each path, %lld ms apart; idle window %lld s\n",
                measuredSamples, datagramSize, static_cast<long long>(gapBetweenDatagrams.count()),
                static_cast<long long>(idleWindow.count()));
    int status = 0;
    {
        bench::SequenceArrivals floorArrivals(lossTimeout);
        bench::SequenceArrivals serverArrivals(lossTimeout);
        bench::FloorReceiver floor(
            [&](const ReceivedMessage& datagram) { floorArrivals.arrived(sequenceOf(datagram)); });
        bench::TimingDelegate delegate(serverArrivals, sequenceOf);
        // The channel configuration takes datagrams from any sender.
        ZarvoServer server(nullptr, "_kespchan._tcp", "local.");
        server.setAutoAdmit(true);
        server.setDelegate(&delegate);
        if (!floor.start()) {
            std::fprintf(stderr, "cannot open the floor's receiving socket\n");
            status = 1;
        } else if (server.start() == ZarvoServer::startFailed) {
            std::fprintf(stderr, "the server did not start (DNS-SD library %s)\n", library);
            status = 1;
        } else {
            std::array<LatencyPath, 2> paths{{{floor.datagramPort(), &floorArrivals, {}},
                                              {server.udpPort4(), &serverArrivals, {}}}};
            measureLatencies(paths);
            floor.stop();  // its thread must not count as the server's in the idle window
            printLatency("loopback UDP one-way (floor)", paths[0].run, nullptr);
            printLatency("datagram to serverDidReceiveMessage", paths[1].run, &paths[0].run);
            const IdleCost idle = measureIdle();
            bench::printRow("idle started server: CPU share of one core", idle.cpuPercent, "%");
            bench::printRow("idle started server: CPU time", idle.cpuMicros, "us");
            bench::printRow("idle started server: wake-ups per second", idle.wakeUpsPerSecond,
                            "/s");
            bench::printRow("idle started server: wake-ups", idle.wakeUps, "");
        }
        server.shutDown();
    }
    net::stopSocketLibrary();
    return status;
}
