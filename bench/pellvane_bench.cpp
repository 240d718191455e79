// The pad service as its clients see it, in one table:
//  - the loopback floor: a message's one-way trip over TCP and over UDP to a thread that
//    waits for it and does nothing else,
//  - key and gamepad events, over TCP and UDP, from the client's send to the delegate's
//    serverDidReceiveMessage of a started pad service (p50 and p99),
//  - broadcast fan-out to 59 admitted clients: until broadcast returns, and until the last
//    client has the whole message.
// Each timing is also given as a ratio to the floor of its transport, measured in the same
// run. Usage: pellvane_bench [DNS-SD library], by default the test library from the build.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_delegates.h"
#include "bench/bench_support.h"
#include "bench/loopback_floor.h"
#include "bench/pad_client.h"
#include "bench/sequence_arrivals.h"
#include "platform/sockets.h"
#include "server/dnssd_binding.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace {

using namespace pellvane;
using bench::Clock;

constexpr int warmUpSamples = 100;
constexpr int measuredSamples = 1000;
constexpr int fanOutSamples = 200;
constexpr int fanOutClients = 59;
// Longer than the loop's 1 ms pause after a busy pass: every event finds the server
// waiting, as a key press from an idle pad does.
constexpr auto gapBetweenEvents = std::chrono::milliseconds(2);
constexpr auto lossTimeout = std::chrono::milliseconds(500);
constexpr int readyPollMs = 50;

// Where each kind of message carries the benchmark's sequence number: fields the server
// and the delegates carry but never read.
std::uint32_t sequenceOf(const ReceivedMessage& message) {
    if (message.header.type == wire::KeyDown || message.header.type == wire::KeyUp) {
        const auto entries = wire::readKeyEntries(message);
        return entries.empty() ? 0xFFFFFFFF : entries.front().reserved;
    }
    return message.header.argument;  // a GamepadEvent's or ChannelEvent's argument
}

Message keyEvent(std::uint32_t sequence) {
    const wire::KeyEntry entry{sequence, 'a', wire::noKeyIndex};
    return wire::buildKeyMessage(wire::KeyDown, {&entry, 1});
}

Message gamepadEvent(std::uint32_t sequence) {
    const wire::GamepadPair pair{0, 0.5f};
    Message message = wire::buildGamepadEvent(wire::gamepadAxes, {&pair, 1});
    wire::writeHeader(message,
                      {static_cast<std::uint32_t>(message.size()), wire::GamepadEvent, sequence});
    return message;
}

// Sends `count` numbered messages one at a time through `send` and times each one's
// arrival; the first ones warm the path up and are not counted.
bench::Latencies measure(bench::SequenceArrivals& arrivals,
                         const std::function<Message(std::uint32_t)>& build,
                         const std::function<void(const Message&)>& send) {
    bench::Latencies result;
    arrivals.reset(warmUpSamples + measuredSamples);
    for (std::uint32_t i = 0; i < warmUpSamples + measuredSamples; ++i) {
        const Message message = build(i);
        bench::sendAndTime(
            gapBetweenEvents, i >= warmUpSamples, [&] { send(message); },
            [&] { return arrivals.waitFor(i); }, result);
    }
    return result;
}

// Both percentiles are given against the floor's p50.
void printLatency(const std::string& label, const bench::Latencies& latencies, double floorP50) {
    bench::printPercentiles(label, latencies.micros, floorP50, floorP50);
    if (latencies.lost > 0) {
        std::printf("  (%d of %d lost)\n", latencies.lost, warmUpSamples + measuredSamples);
    }
}

// Reads the broadcast on every client and notes when the last one has it all.
struct FanOut {
    std::vector<double> returnMicros;
    std::vector<double> lastArrivalMicros;
    int incomplete = 0;
};

FanOut measureFanOut(ZarvoServer& server, const std::vector<net::SocketHandle>& clients) {
    FanOut result;
    wire::AppNameRecord record;
    record.setName("bench");
    const Message appName = wire::buildAppName(record);
    std::vector<std::size_t> received(clients.size());
    std::vector<net::ReadinessFlags> flags(clients.size());
    std::vector<std::uint8_t> buffer(4096);
    for (int sample = 0; sample < fanOutSamples; ++sample) {
        std::fill(received.begin(), received.end(), 0);
        std::this_thread::sleep_for(gapBetweenEvents);
        const auto start = Clock::now();
        server.broadcast(appName);
        result.returnMicros.push_back(bench::microsSince(start));
        std::size_t complete = 0;
        const auto deadline = start + lossTimeout;
        while (complete < clients.size() && Clock::now() < deadline) {
            if (net::waitForReadiness(clients, flags, readyPollMs) <= 0) {
                continue;
            }
            for (std::size_t i = 0; i < clients.size(); ++i) {
                if (!flags[i].readable || received[i] >= appName.size()) {
                    continue;
                }
                const int got =
                    net::receiveSome(clients[i], buffer.data(), appName.size() - received[i]);
                if (got > 0) {
                    received[i] += static_cast<std::size_t>(got);
                    complete += received[i] == appName.size() ? 1 : 0;
                }
            }
        }
        if (complete < clients.size()) {
            ++result.incomplete;
        } else {
            result.lastArrivalMicros.push_back(bench::microsSince(start));
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    const char* library = bench::dnssdLibraryPath(argc, argv);
    net::startSocketLibrary();
    dnssd::LibraryScope dnssd(library);

    bench::SequenceArrivals floorArrivals(lossTimeout);
    bench::FloorReceiver floor(
        [&](const ReceivedMessage& message) { floorArrivals.arrived(sequenceOf(message)); });
    if (!floor.start(true)) {
        std::fprintf(stderr, "pellvane_bench: loopback is not usable\n");
        return 1;
    }
    const net::SocketHandle sender = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    const auto floorUdp = measure(floorArrivals, keyEvent, [&](const Message& message) {
        net::sendDatagram(sender, net::Family::ipv4, "127.0.0.1", floor.datagramPort(),
                          message.data(), message.size());
    });
    const auto floorTcp = measure(floorArrivals, keyEvent, [&](const Message& message) {
        net::sendAll(floor.streamClient(), message.data(), message.size(), 2000);
    });

    bench::SequenceArrivals serverArrivals(lossTimeout);
    bench::TimingDelegate delegate(serverArrivals, sequenceOf);
    ZarvoServer server("BenchHost", "_kesp._tcp", "");
    server.setDelegate(&delegate);
    if (server.start() == ZarvoServer::startFailed) {
        std::fprintf(stderr, "pellvane_bench: the pad service did not start\n");
        return 1;
    }
    const net::SocketHandle pad = bench::admitPadClient(server.tcpPort());
    if (pad == net::invalidSocket) {
        std::fprintf(stderr, "pellvane_bench: the pad client was not admitted\n");
        return 1;
    }
    const auto overTcp = [&](const Message& message) {
        net::sendAll(pad, message.data(), message.size(), 2000);
    };
    const auto overUdp = [&](const Message& message) {
        net::sendDatagram(sender, net::Family::ipv4, "127.0.0.1", server.udpPort4(), message.data(),
                          message.size());
    };
    const auto keyTcp = measure(serverArrivals, keyEvent, overTcp);
    const auto keyUdp = measure(serverArrivals, keyEvent, overUdp);
    const auto padTcp = measure(serverArrivals, gamepadEvent, overTcp);
    const auto padUdp = measure(serverArrivals, gamepadEvent, overUdp);

    std::vector<net::SocketHandle> listeners;
    // From eight loopback hosts: one host may hold only eight of the places.
    for (int i = 1; i < fanOutClients; ++i) {  // the pad client above is the 59th
        const std::string from = "127.0.0." + std::to_string(1 + i % 8);
        const net::SocketHandle client = bench::admitPadClient(server.tcpPort(), from.c_str());
        if (client != net::invalidSocket) {
            listeners.push_back(client);
        }
    }
    listeners.push_back(pad);
    const FanOut fanOut = measureFanOut(server, listeners);

    const double udpFloor = bench::percentileMicros(floorUdp.micros, 50);
    const double tcpFloor = bench::percentileMicros(floorTcp.micros, 50);
    std::printf("pad service over loopback; ratios against the floor p50 of the same transport\n");
    printLatency("floor: datagram, one way", floorUdp, udpFloor);
    printLatency("floor: TCP message, one way", floorTcp, tcpFloor);
    printLatency("KeyDown over TCP to serverDidReceiveMessage", keyTcp, tcpFloor);
    printLatency("KeyDown over UDP to serverDidReceiveMessage", keyUdp, udpFloor);
    printLatency("GamepadEvent over TCP to serverDidReceiveMessage", padTcp, tcpFloor);
    printLatency("GamepadEvent over UDP to serverDidReceiveMessage", padUdp, udpFloor);
    const std::string clients = std::to_string(listeners.size()) + " clients";
    for (const auto& [label, samples] :
         {std::pair{"broadcast returns, " + clients, fanOut.returnMicros},
          std::pair{"broadcast reaches all " + clients, fanOut.lastArrivalMicros}}) {
        bench::printPercentiles(label, samples, tcpFloor, tcpFloor);
    }
    if (fanOut.incomplete > 0) {
        std::printf("  (%d of %d broadcasts did not reach everyone in time)\n", fanOut.incomplete,
                    fanOutSamples);
    }

    for (net::SocketHandle client : listeners) {
        net::closeSocket(client);
    }
    net::closeSocket(sender);
    server.shutDown();
    net::stopSocketLibrary();
    return 0;
}
