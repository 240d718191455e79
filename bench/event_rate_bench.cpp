// Events per second through the running program, end to end. Pads on loopback send
// GamepadEvents (or ChannelEvents) at steady rates for two seconds per row, over UDP and then
// over TCP, and the events that the program accepted are counted where they come out:
//  - hidraw: each accepted GamepadEvent is one 65-byte report in the controller's device file
//    (a file on Linux, as the end-to-end tests make it); pad p moves axis p only, so the slot
//    that changed tells whose event a report carries;
//  - relay: each ChannelEvent that the channel service accepts is relayed to an admitted
//    client of the pad service, which counts it (its body names the pad). This needs no
//    controller, so it counts the same way under Wine.
// For each row: events sent, events that came out, lost share, backlog (how long the output
// kept growing after the last send), and each pad's share of what came out.
//
// Usage: event_rate_bench --pad-port P --channel-port C --count hidraw FILE | --count relay
//        [--seconds S] [--name PREFIX] [--up-to RATE]
// The program must admit every pad (answer its questions); pads say Hello one after another.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench/pad_client.h"
#include "platform/sockets.h"
#include "server/frame_decoder.h"
#include "server/wire_building.h"
#include "server/wire_cursor.h"
#include "server/wire_reading.h"
#include "tools/message_stream.h"

namespace {

using namespace pellvane;
using Clock = std::chrono::steady_clock;

// One pad: 250 events a second, doubled row by row up to --up-to (64,000 unless told).
constexpr int firstRate = 250;
constexpr int padsTogether = 8;
constexpr int togetherRates[] = {2500, 8000};  // per pad: 20,000 and 64,000 events/s in all
constexpr int admissionTimeoutMs = 120000;     // a person (or Wine's helper) answers
constexpr auto quietEnough = std::chrono::milliseconds(300);
// How long a row waits at most for the program to work off what it queued.
constexpr auto backlogLimit = std::chrono::seconds(120);
constexpr auto sendTick = std::chrono::milliseconds(1);
constexpr std::size_t reportSize = 65;
constexpr std::size_t stateInReport = 3;

enum class Transport { udp, tcp };

struct Options {
    std::uint16_t padPort = 0;
    std::uint16_t channelPort = 0;
    bool relay = false;
    std::string reportFile;
    double seconds = 2.0;
    std::string name = "Rate pad";
    int upTo = 64000;
};

// A connection that the service admitted, with the UDP ports it announced.
struct Admitted {
    net::SocketHandle socket = net::invalidSocket;
    wire::UdpPorts ports;
    FrameDecoder frames;
};

// Hello (or, for the channel service, any first message) and the HelloReply and UdpInfo.
bool admit(Admitted& client, std::uint16_t port, const Message& first) {
    client.socket = bench::connectLoopback(port);
    // Each event leaves at once, as a pad's would: Nagle's wait for the peer's delayed
    // acknowledgement would hold events back for up to 40 ms, a delay of the sender's own.
    net::setNoDelay(client.socket);
    if (client.socket == net::invalidSocket ||
        !net::sendAll(client.socket, first.data(), first.size(), 5000)) {
        return false;
    }
    // The application in front may be announced before the UdpInfo.
    bool replied = false;
    for (;;) {
        ReceivedMessage message;
        if (tool::readMessage(client.socket, client.frames, message, admissionTimeoutMs) !=
            tool::ReadStatus::message) {
            return false;
        }
        replied = replied || message.header.type == wire::HelloReply;
        const auto ports = wire::readUdpInfo(message.bytes);
        if (replied && message.header.type == wire::UdpInfo && ports) {
            client.ports = *ports;
            return true;
        }
    }
}

// Where accepted events come out, counted in total and per pad.
class Output {
  public:
    virtual ~Output() = default;
    virtual std::uint64_t count() = 0;
    // Each pad's events among those that came out since `from` (a count() taken before).
    virtual std::vector<std::uint64_t> perPad(std::uint64_t from) = 0;
    // The event that pad `pad` sends as its number `sequence`.
    virtual Message event(int pad, std::uint32_t sequence) = 0;
};

// Reports in the controller's device file.
class ReportFile final : public Output {
  public:
    explicit ReportFile(std::string path) : path_(std::move(path)) {}

    std::uint64_t count() override {
        std::error_code error;
        const auto size = std::filesystem::file_size(path_, error);
        return error ? 0 : static_cast<std::uint64_t>(size) / reportSize;
    }

    std::vector<std::uint64_t> perPad(std::uint64_t from) override {
        std::vector<std::uint64_t> shares(padsTogether, 0);
        std::ifstream file(path_, std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(file)), {});
        const std::size_t reports = bytes.size() / reportSize;
        if (from == 0 || from > reports) {
            return shares;
        }
        auto slotOf = [&](std::size_t report, int pad) {
            return bytes[report * reportSize + stateInReport + axisSlot(pad)];
        };
        for (std::size_t report = from; report < reports; ++report) {
            for (int pad = 0; pad < padsTogether; ++pad) {
                if (slotOf(report, pad) != slotOf(report - 1, pad)) {
                    ++shares[static_cast<std::size_t>(pad)];
                    break;
                }
            }
        }
        return shares;
    }

    // Axis `pad`, a value whose byte cycles through 1 to 254: every event changes the slot.
    Message event(int pad, std::uint32_t sequence) override {
        const float byte = static_cast<float>(sequence % 254 + 1);
        const wire::GamepadPair pair{static_cast<std::uint32_t>(pad), (byte + 0.5f) / 255.0f};
        return wire::buildGamepadEvent(wire::gamepadAxes, {&pair, 1});
    }

  private:
    // The axis slots of ids 0 to 7, as the controller lays them out.
    static std::size_t axisSlot(int id) {
        return id % 2 == 0 ? 7 + static_cast<std::size_t>(id / 2)
                           : static_cast<std::size_t>(id / 2);
    }

    std::string path_;
};

// ChannelEvents relayed to an admitted pad client.
class RelayListener final : public Output {
  public:
    explicit RelayListener(Admitted& listener) : listener_(listener) {
        thread_ = std::thread([this] { listen(); });
    }
    ~RelayListener() override {
        done_.store(true);
        thread_.join();
    }

    std::uint64_t count() override {
        std::lock_guard guard(lock_);
        return total_;
    }

    std::vector<std::uint64_t> perPad(std::uint64_t) override {
        std::lock_guard guard(lock_);
        std::vector<std::uint64_t> shares(padsTogether);
        for (int pad = 0; pad < padsTogether; ++pad) {
            shares[static_cast<std::size_t>(pad)] =
                perPad_[static_cast<std::size_t>(pad)] - atRowStart_[static_cast<std::size_t>(pad)];
        }
        return shares;
    }

    void startRow() {
        std::lock_guard guard(lock_);
        atRowStart_ = perPad_;
    }

    Message event(int pad, std::uint32_t sequence) override {
        std::uint8_t body[8];
        wire::Writer writer(body);
        writer.u32(static_cast<std::uint32_t>(pad));
        writer.u32(sequence);
        return wire::buildChannelEvent(body);
    }

  private:
    void listen() {
        while (!done_.load()) {
            ReceivedMessage message;
            if (tool::readMessage(listener_.socket, listener_.frames, message, 50) !=
                    tool::ReadStatus::message ||
                message.header.type != wire::ChannelEvent) {
                continue;
            }
            std::uint32_t pad = 0;
            wire::Reader reader(message.bytes, wire::headerSize);
            std::lock_guard guard(lock_);
            if (reader.u32(pad) && pad < padsTogether) {
                ++perPad_[pad];
            }
            ++total_;
        }
    }

    Admitted& listener_;
    std::atomic<bool> done_{false};
    std::mutex lock_;  // guards total_, perPad_ and atRowStart_
    std::uint64_t total_ = 0;
    std::vector<std::uint64_t> perPad_ = std::vector<std::uint64_t>(padsTogether);
    std::vector<std::uint64_t> atRowStart_ = std::vector<std::uint64_t>(padsTogether);
    std::thread thread_;
};

// One pad's way in: a datagram socket towards the service's UDP port, or its connection.
struct PadLink {
    Transport transport = Transport::udp;
    net::SocketHandle datagrams = net::invalidSocket;
    std::uint16_t udpPort = 0;
    net::SocketHandle stream = net::invalidSocket;

    bool send(const Message& message) const {
        if (transport == Transport::tcp) {
            return net::sendAll(stream, message.data(), message.size(), 5000);
        }
        return net::sendDatagram(datagrams, net::Family::ipv4, "127.0.0.1", udpPort, message.data(),
                                 message.size()) == static_cast<int>(message.size());
    }
};

struct RowResult {
    std::uint64_t sent = 0;
    std::uint64_t written = 0;
    double backlogMs = 0;
    std::vector<std::uint64_t> shares;
};

// Sends `count` events at `rate` per second: each millisecond, what is due by then.
Clock::time_point sendSteadily(const PadLink& link, Output& output, int pad, int rate,
                               std::uint64_t count, Clock::time_point start,
                               std::atomic<std::uint64_t>& sent) {
    std::uint64_t done = 0;
    auto tick = start;
    while (done < count) {
        tick += sendTick;
        std::this_thread::sleep_until(tick);
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        const auto due = std::min<std::uint64_t>(count, static_cast<std::uint64_t>(elapsed * rate));
        for (; done < due; ++done) {
            if (link.send(output.event(pad, static_cast<std::uint32_t>(done)))) {
                sent.fetch_add(1);
            }
        }
    }
    return Clock::now();
}

// Waits until the output has not grown for a while; the time of its last growth.
Clock::time_point settle(Output& output, Clock::time_point lastGrowth, std::uint64_t& seen,
                         std::uint64_t enough) {
    const auto limit = Clock::now() + backlogLimit;
    while (Clock::now() - lastGrowth < quietEnough && seen < enough && Clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        const std::uint64_t now = output.count();
        if (now != seen) {
            seen = now;
            lastGrowth = Clock::now();
        }
    }
    return lastGrowth;
}

RowResult runRow(const std::vector<PadLink>& links, Output& output, int ratePerPad,
                 double seconds) {
    // What an earlier row left queued is worked off first.
    std::uint64_t before = output.count();
    settle(output, Clock::now(), before, UINT64_MAX);
    if (auto* relay = dynamic_cast<RelayListener*>(&output)) {
        relay->startRow();
    }
    before = output.count();
    const auto perPad = static_cast<std::uint64_t>(ratePerPad * seconds);
    std::atomic<std::uint64_t> sent{0};
    std::vector<Clock::time_point> lastSends(links.size());
    std::vector<std::thread> senders;
    const auto start = Clock::now() + std::chrono::milliseconds(20);
    for (std::size_t pad = 0; pad < links.size(); ++pad) {
        senders.emplace_back([&, pad] {
            lastSends[pad] = sendSteadily(links[pad], output, static_cast<int>(pad), ratePerPad,
                                          perPad, start, sent);
        });
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    const auto lastSend = *std::max_element(lastSends.begin(), lastSends.end());

    // The output goes on growing while the program works off what it has queued.
    RowResult result;
    result.sent = sent.load();
    std::uint64_t seen = output.count();
    const auto lastGrowth = settle(output, lastSend, seen, before + result.sent);
    result.written = seen - before;
    result.backlogMs =
        std::max(0.0, std::chrono::duration<double, std::milli>(lastGrowth - lastSend).count());
    result.shares = output.perPad(before);
    result.shares.resize(links.size());
    return result;
}

void printHeader(const char* title) {
    std::printf("\n%s\n", title);
    std::printf("%-8s %-10s %10s %10s %8s %10s  %s\n", "pads", "rate/s", "sent", "written",
                "lost %", "backlog ms", "written share of each pad");
}

void printRow(std::size_t pads, int ratePerPad, const RowResult& row) {
    const double lost =
        row.sent == 0 ? 0.0
                      : 100.0 * static_cast<double>(row.sent - std::min(row.sent, row.written)) /
                            static_cast<double>(row.sent);
    std::string shares;
    for (std::uint64_t share : row.shares) {
        char cell[32];
        std::snprintf(cell, sizeof cell, "%s%.1f%%", shares.empty() ? "" : " ",
                      row.written == 0 ? 0.0 : 100.0 * static_cast<double>(share) / row.written);
        shares += cell;
    }
    std::printf("%-8zu %-10d %10llu %10llu %8.1f %10.1f  %s\n", pads,
                ratePerPad * static_cast<int>(pads), static_cast<unsigned long long>(row.sent),
                static_cast<unsigned long long>(row.written), lost, row.backlogMs, shares.c_str());
    std::fflush(stdout);
}

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--pad-port") {
            options.padPort = static_cast<std::uint16_t>(std::atoi(next()));
        } else if (arg == "--channel-port") {
            options.channelPort = static_cast<std::uint16_t>(std::atoi(next()));
        } else if (arg == "--count") {
            const std::string how = next();
            options.relay = how == "relay";
            if (how == "hidraw") {
                options.reportFile = next();
            }
        } else if (arg == "--seconds") {
            options.seconds = std::atof(next());
        } else if (arg == "--name") {
            options.name = next();
        } else if (arg == "--up-to") {
            options.upTo = std::atoi(next());
        } else {
            return false;
        }
    }
    return options.padPort != 0 &&
           (options.relay ? options.channelPort != 0 : !options.reportFile.empty());
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: %s --pad-port P (--count hidraw FILE | --channel-port C --count "
                     "relay) [--seconds S] [--name PREFIX]\n",
                     argv[0]);
        return 2;
    }
    net::startSocketLibrary();
    // The pad service's clients: eight pads (or, to count relays, one listener).
    std::vector<std::unique_ptr<Admitted>> padClients;
    const int padCount = options.relay ? 1 : padsTogether;
    for (int pad = 0; pad < padCount; ++pad) {
        auto client = std::make_unique<Admitted>();
        const std::string name = options.name + " " + std::to_string(pad);
        if (!admit(*client, options.padPort, wire::buildHello(name))) {
            std::fprintf(stderr, "event_rate_bench: %s was not admitted\n", name.c_str());
            return 1;
        }
        padClients.push_back(std::move(client));
    }

    std::unique_ptr<Output> output;
    std::vector<std::unique_ptr<Admitted>> channelClients;
    std::uint16_t udpPort = padClients[0]->ports.ipv4;
    if (options.relay) {
        output = std::make_unique<RelayListener>(*padClients[0]);
        // The channel service admits on any first message, and relays that one too.
        for (int pad = 0; pad < padsTogether; ++pad) {
            auto client = std::make_unique<Admitted>();
            if (!admit(*client, options.channelPort, output->event(pad, 0xFFFFFFFF))) {
                std::fprintf(stderr, "event_rate_bench: the channel service did not admit\n");
                return 1;
            }
            udpPort = client->ports.ipv4;
            channelClients.push_back(std::move(client));
        }
    } else {
        output = std::make_unique<ReportFile>(options.reportFile);
    }
    auto& streams = options.relay ? channelClients : padClients;

    std::printf("events through the running program, %.1f s per row; counted %s\n", options.seconds,
                options.relay ? "as ChannelEvents relayed to an admitted pad client"
                              : "as reports in the controller's device file");
    for (Transport transport : {Transport::udp, Transport::tcp}) {
        std::vector<PadLink> links(padsTogether);
        for (int pad = 0; pad < padsTogether; ++pad) {
            PadLink& link = links[static_cast<std::size_t>(pad)];
            link.transport = transport;
            link.datagrams = net::openSocket(net::Family::ipv4, net::Transport::datagram);
            link.udpPort = udpPort;
            link.stream = streams[static_cast<std::size_t>(pad) % streams.size()]->socket;
        }
        printHeader(transport == Transport::udp ? "over UDP" : "over TCP");
        for (int rate = firstRate; rate <= options.upTo; rate *= 2) {
            const std::vector<PadLink> one(links.begin(), links.begin() + 1);
            printRow(1, rate, runRow(one, *output, rate, options.seconds));
        }
        for (int rate : togetherRates) {
            printRow(links.size(), rate, runRow(links, *output, rate, options.seconds));
        }
        for (PadLink& link : links) {
            net::closeSocket(link.datagrams);
        }
    }
    output.reset();
    for (auto* clients : {&padClients, &channelClients}) {
        for (auto& client : *clients) {
            net::closeSocket(client->socket);
        }
    }
    net::stopSocketLibrary();
    return 0;
}
