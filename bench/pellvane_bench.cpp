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
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "platform/sockets.h"
#include "server/dnssd_binding.h"
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

// Arrival times by sequence number, noted by whichever thread receives the messages.
class Arrivals {
  public:
    void reset(std::size_t count) {
        std::lock_guard guard(lock_);
        times_.assign(count, Clock::time_point{});
    }

    void arrived(std::uint32_t sequence) {
        const auto now = Clock::now();
        {
            std::lock_guard guard(lock_);
            if (sequence < times_.size()) {
                times_[sequence] = now;
            }
        }
        changed_.notify_all();
    }

    // The arrival time, or nothing when the message did not come in time.
    std::optional<Clock::time_point> waitFor(std::uint32_t sequence) {
        std::unique_lock guard(lock_);
        const bool came = changed_.wait_for(guard, lossTimeout, [&] {
            return sequence < times_.size() && times_[sequence] != Clock::time_point{};
        });
        return came ? std::optional(times_[sequence]) : std::nullopt;
    }

  private:
    std::mutex lock_;  // guards times_
    std::condition_variable changed_;
    std::vector<Clock::time_point> times_;  // the epoch until the message arrives
};

// Where each kind of message carries the benchmark's sequence number: fields the server
// and the delegates carry but never read.
std::uint32_t sequenceOf(std::span<const std::uint8_t> message) {
    const std::uint32_t type = wire::readU32(message, 4);
    if (type == wire::KeyDown || type == wire::KeyUp) {
        return wire::readU32(message, 12);  // the first key entry's unused field
    }
    return wire::readU32(message, 8);  // the argument of a GamepadEvent or ChannelEvent
}

Message keyEvent(std::uint32_t sequence) {
    Message message(wire::headerSize + 12, 0);
    wire::writeHeader(message, {static_cast<std::uint32_t>(message.size()), wire::KeyDown, 1});
    wire::writeU32(message, 12, sequence);
    wire::writeU32(message, 16, 'a');
    wire::writeU32(message, 20, 0xFFFFFFFF);
    return message;
}

Message gamepadEvent(std::uint32_t sequence) {
    Message message(wire::headerSize + 16, 0);
    wire::writeHeader(message,
                      {static_cast<std::uint32_t>(message.size()), wire::GamepadEvent, sequence});
    wire::writeU32(message, 12, 1);
    wire::writeU32(message, 16, 1);
    wire::writeU32(message, 20, 0);
    wire::writeF32(message, 24, 0.5f);
    return message;
}

// Notes the arrival of every message the server hands on.
class TimingDelegate : public ZarvoConnectionDelegate {
  public:
    explicit TimingDelegate(Arrivals& arrivals) : arrivals_(arrivals) {}
    void serverDidReceiveMessage(ZarvoServer*, Message message) override {
        arrivals_.arrived(sequenceOf(message));
    }
    void serverDidPublish(ZarvoServer*) override {}
    void resetRetryCount(ZarvoServer*) override {}
    void serverDidAdmitClient(ZarvoServer*) override {}
    void serverDidStop(ZarvoServer*) override {}
    void reservedNotification(ZarvoServer*) override {}
    int shouldAdmitClient(ZarvoServer*, const Message*) override { return 1; }
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer*, const Message*) override {
        return nullptr;
    }

  private:
    Arrivals& arrivals_;
};

bool waitReadable(net::SocketHandle socket, int timeoutMs) {
    const net::SocketHandle sockets[] = {socket};
    net::ReadinessFlags flags[1];
    return net::waitForReadiness(sockets, flags, timeoutMs) > 0 && flags[0].readable;
}

bool receiveExactly(net::SocketHandle socket, std::uint8_t* buffer, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        if (!waitReadable(socket, static_cast<int>(lossTimeout.count()))) {
            return false;
        }
        const int received = net::receiveSome(socket, buffer + done, length - done);
        if (received <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(received);
    }
    return true;
}

std::optional<Message> receiveMessage(net::SocketHandle socket) {
    std::uint8_t header[wire::headerSize];
    if (!receiveExactly(socket, header, sizeof header)) {
        return std::nullopt;
    }
    const std::uint32_t size = wire::readU32(header, 0);
    if (!wire::isValidPacketSize(size)) {
        return std::nullopt;
    }
    Message message(size);
    std::copy(std::begin(header), std::end(header), message.begin());
    if (!receiveExactly(socket, message.data() + wire::headerSize, size - wire::headerSize)) {
        return std::nullopt;
    }
    return message;
}

net::SocketHandle connectLoopback(std::uint16_t port) {
    const net::SocketHandle socket = net::openSocket(net::Family::ipv4, net::Transport::stream);
    if (socket != net::invalidSocket &&
        !net::connectTo(socket, net::Family::ipv4, "127.0.0.1", port)) {
        net::closeSocket(socket);
        return net::invalidSocket;
    }
    return socket;
}

// A connected and admitted pad client, or invalidSocket.
net::SocketHandle admittedClient(std::uint16_t port) {
    const net::SocketHandle socket = connectLoopback(port);
    const Message hello = wire::buildHello("bench pad");
    if (socket == net::invalidSocket || !net::sendAll(socket, hello.data(), hello.size(), 2000)) {
        return socket;
    }
    const auto reply = receiveMessage(socket);
    const auto info = receiveMessage(socket);
    if (!reply || !info || wire::readU32(*info, 4) != wire::UdpInfo) {
        net::closeSocket(socket);
        return net::invalidSocket;
    }
    return socket;
}

// The floor: a thread that waits for readiness and reads one message, as the server's loop
// does, and does nothing else with it.
class FloorReceiver {
  public:
    explicit FloorReceiver(Arrivals& arrivals) : arrivals_(arrivals) {}
    ~FloorReceiver() {
        done_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
        for (net::SocketHandle socket : {datagrams_, listener_, stream_}) {
            if (socket != net::invalidSocket) {
                net::closeSocket(socket);
            }
        }
    }
    FloorReceiver(const FloorReceiver&) = delete;
    FloorReceiver& operator=(const FloorReceiver&) = delete;

    // Opens a datagram socket and a connected stream; false when loopback fails.
    bool start() {
        std::uint16_t port = 0;
        int length = 0;
        datagrams_ = net::openSocket(net::Family::ipv4, net::Transport::datagram);
        listener_ = net::openSocket(net::Family::ipv4, net::Transport::stream);
        if (!net::bindLoopback(datagrams_, net::Family::ipv4, 0) ||
            !net::boundPort(datagrams_, datagramPort_, length) ||
            !net::bindLoopback(listener_, net::Family::ipv4, 0) ||
            !net::boundPort(listener_, port, length) || !net::listenOn(listener_, 1)) {
            return false;
        }
        streamClient_ = connectLoopback(port);
        stream_ = net::acceptConnection(listener_);
        if (streamClient_ == net::invalidSocket || stream_ == net::invalidSocket) {
            return false;
        }
        thread_ = std::thread([this] { receive(); });
        return true;
    }

    std::uint16_t datagramPort() const { return datagramPort_; }
    net::SocketHandle streamClient() const { return streamClient_; }

  private:
    void receive() {
        std::vector<std::uint8_t> buffer(65535);
        const net::SocketHandle sockets[] = {datagrams_, stream_};
        net::ReadinessFlags flags[2];
        while (!done_.load()) {
            if (net::waitForReadiness(sockets, flags, readyPollMs) <= 0) {
                continue;
            }
            if (flags[0].readable) {
                net::DatagramSource source;
                const int received =
                    net::receiveDatagram(datagrams_, buffer.data(), buffer.size(), source);
                if (received >= static_cast<int>(wire::headerSize)) {
                    arrivals_.arrived(
                        sequenceOf({buffer.data(), static_cast<std::size_t>(received)}));
                }
            }
            if (flags[1].readable) {
                if (const auto message = receiveMessage(stream_)) {
                    arrivals_.arrived(sequenceOf(*message));
                }
            }
        }
    }

    Arrivals& arrivals_;
    net::SocketHandle datagrams_ = net::invalidSocket;
    net::SocketHandle listener_ = net::invalidSocket;
    net::SocketHandle stream_ = net::invalidSocket;
    net::SocketHandle streamClient_ = net::invalidSocket;
    std::uint16_t datagramPort_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

struct Latencies {
    std::vector<double> micros;
    int lost = 0;
};

// Sends `count` numbered messages one at a time through `send` and times each one's
// arrival; the first ones warm the path up and are not counted.
Latencies measure(Arrivals& arrivals, const std::function<Message(std::uint32_t)>& build,
                  const std::function<void(const Message&)>& send) {
    Latencies result;
    arrivals.reset(warmUpSamples + measuredSamples);
    for (std::uint32_t i = 0; i < warmUpSamples + measuredSamples; ++i) {
        const Message message = build(i);
        std::this_thread::sleep_for(gapBetweenEvents);
        const auto sent = Clock::now();
        send(message);
        const auto arrived = arrivals.waitFor(i);
        if (!arrived) {
            ++result.lost;
        } else if (i >= warmUpSamples) {
            result.micros.push_back(
                std::chrono::duration<double, std::micro>(*arrived - sent).count());
        }
    }
    return result;
}

void printLatency(const std::string& label, const Latencies& latencies, double floorP50) {
    const double p50 = bench::percentileMicros(latencies.micros, 50);
    const double p99 = bench::percentileMicros(latencies.micros, 99);
    bench::printRow(label + " p50", p50, "us", floorP50 > 0 ? p50 / floorP50 : 0.0);
    bench::printRow(label + " p99", p99, "us", floorP50 > 0 ? p99 / floorP50 : 0.0);
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
#if defined(PELLVANE_FAKE_DNSSD)
    const char* library = argc > 1 ? argv[1] : PELLVANE_FAKE_DNSSD;
#else
    const char* library = argc > 1 ? argv[1] : nullptr;
#endif
    net::startSocketLibrary();
    dnssd::LibraryScope dnssd(library);

    Arrivals floorArrivals;
    FloorReceiver floor(floorArrivals);
    if (!floor.start()) {
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

    Arrivals serverArrivals;
    TimingDelegate delegate(serverArrivals);
    ZarvoServer server("BenchHost", "_kesp._tcp", "");
    server.setDelegate(&delegate);
    if (server.start() == ZarvoServer::startFailed) {
        std::fprintf(stderr, "pellvane_bench: the pad service did not start\n");
        return 1;
    }
    const net::SocketHandle pad = admittedClient(server.tcpPort());
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
    for (int i = 1; i < fanOutClients; ++i) {  // the pad client above is the 59th
        const net::SocketHandle client = admittedClient(server.tcpPort());
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
        const double p50 = bench::percentileMicros(samples, 50);
        const double p99 = bench::percentileMicros(samples, 99);
        bench::printRow(label + " p50", p50, "us", tcpFloor > 0 ? p50 / tcpFloor : 0.0);
        bench::printRow(label + " p99", p99, "us", tcpFloor > 0 ? p99 / tcpFloor : 0.0);
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
