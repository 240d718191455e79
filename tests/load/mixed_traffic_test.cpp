// Ten thousand valid and malformed messages over TCP and UDP from several clients while
// another thread broadcasts: every valid message arrives once and in order, nothing else
// arrives, and every client is still served at the end.
#include <atomic>
#include <condition_variable>
#include <map>
#include <random>
#include <set>
#include <vector>

#include "tests/load/load_fixture.h"
#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

constexpr int clientCount = 6;
constexpr int messagesPerClient = 10000 / clientCount + 1;
// Valid messages a client may have in flight: keeps the socket buffers far from full, so
// that no datagram is dropped for want of room.
constexpr std::uint32_t window = 8;
constexpr std::uint32_t tagMagic = 0x5A17A9E5;
constexpr auto deliveryLimit = std::chrono::seconds(60);

enum Transport : std::uint32_t { overTcp = 0, overUdp = 1 };

// Body: magic, client, transport, sequence number, then padding.
Message valid(std::uint32_t type, std::uint32_t client, Transport transport, std::uint32_t sequence,
              std::size_t padding) {
    return taggedMessage(type, {tagMagic, client, transport, sequence}, 16 + padding);
}

// Records like its base and counts the tagged messages of each client and transport.
class CountingDelegate : public RecordingDelegate {
  public:
    void serverDidReceiveMessage(ZarvoServer* server, ReceivedMessage message) override {
        const auto sequence = tagOf(message, 3);
        if (sequence && tagOf(message) == tagMagic) {
            std::lock_guard guard(mutex_);
            sequences_[{*tagOf(message, 1), *tagOf(message, 2)}].push_back(*sequence);
        } else {
            std::lock_guard guard(mutex_);
            ++untagged_;
        }
        changed_.notify_all();
        RecordingDelegate::serverDidReceiveMessage(server, std::move(message));
    }

    // Waits until at least `count` messages of the client and transport have arrived.
    bool waitForCount(std::uint32_t client, Transport transport, std::size_t count) {
        std::unique_lock guard(mutex_);
        return changed_.wait_for(guard, deliveryLimit, [&] {
            return sequences_[{client, transport}].size() >= count;
        });
    }

    std::vector<std::uint32_t> sequences(std::uint32_t client, Transport transport) {
        std::lock_guard guard(mutex_);
        return sequences_[{client, transport}];
    }

    int untagged() {
        std::lock_guard guard(mutex_);
        return untagged_;
    }

  private:
    std::mutex mutex_;  // guards sequences_ and untagged_
    std::condition_variable changed_;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::vector<std::uint32_t>> sequences_;
    int untagged_ = 0;
};

struct ClientTally {
    std::uint32_t tcpSent = 0;
    std::uint32_t udpSent = 0;
    int udpInfoSent = 0;
    bool failed = false;
};

// Drains the broadcasts a client receives; each must be a whole AppName.
struct BroadcastReader {
    std::thread thread;
    std::atomic<int> received{0};
    std::atomic<bool> sawFinal{false};
    std::atomic<bool> sawForeign{false};
};

class MixedTraffic : public LoadTest {
  protected:
    void sendPlan(std::uint32_t id, TestClient& client, net::Family family, ClientTally& tally) {
        std::mt19937 random(1000 + id);
        const net::SocketHandle datagrams = net::openSocket(family, net::Transport::datagram);
        const std::uint16_t udpPort =
            family == net::Family::ipv4 ? server->udpPort4() : server->udpPort6();
        const char* host = loopbackHost(family);
        auto sendDatagram = [&](const Message& message) {
            net::sendDatagram(datagrams, family, host, udpPort, message.data(), message.size());
        };
        auto keepWithinWindow = [&](Transport transport, std::uint32_t sent) {
            if (sent > window && !counting.waitForCount(id, transport, sent - window)) {
                tally.failed = true;
            }
        };
        const std::uint32_t types[] = {wire::KeyDown,      wire::KeyUp,   wire::ChannelEvent,
                                       wire::GamepadEvent, wire::AppName, 200 + id};
        for (int i = 0; i < messagesPerClient && !tally.failed; ++i) {
            const std::uint32_t type = types[random() % std::size(types)];
            const std::size_t padding = random() % 300;
            switch (random() % 10) {
                case 0:
                case 1:
                case 2: {
                    keepWithinWindow(overTcp, tally.tcpSent + 1);
                    if (!client.send(valid(type, id, overTcp, tally.tcpSent, padding))) {
                        tally.failed = true;
                    }
                    ++tally.tcpSent;
                    break;
                }
                case 3:
                case 4:
                case 5:
                    keepWithinWindow(overUdp, tally.udpSent + 1);
                    sendDatagram(valid(type, id, overUdp, tally.udpSent, padding));
                    ++tally.udpSent;
                    break;
                case 6: {
                    // A header alone whose size is out of range: only it is lost.
                    Message header(wire::headerSize, 0);
                    wire::writeHeader(header, {random() % 2 == 0 ? 70000u : 5u, type, 0});
                    client.send(header);
                    break;
                }
                case 7:
                    // UdpInfo is not an event over TCP.
                    client.send(wire::buildUdpInfo(1, 2));
                    ++tally.udpInfoSent;
                    break;
                case 8: {
                    // A datagram whose size field disagrees with its length, or that is too short.
                    Message bad = valid(type, id, overUdp, 0xFFFFFFFF, padding);
                    if (random() % 2 == 0) {
                        wire::writeHeader(bad,
                                          {static_cast<std::uint32_t>(bad.size() + 4), type, 0});
                    } else {
                        bad.resize(11);
                    }
                    sendDatagram(bad);
                    break;
                }
                default: {
                    // A well-formed datagram from a host that was never admitted.
                    if (!foreignSourceWorks) {
                        break;
                    }
                    const net::SocketHandle stranger =
                        net::openSocket(net::Family::ipv4, net::Transport::datagram);
                    if (net::bindAddress(stranger, net::Family::ipv4, "127.0.0.2", 0)) {
                        const Message foreign = valid(type, id + 100, overUdp, 0, padding);
                        net::sendDatagram(stranger, net::Family::ipv4, "127.0.0.1",
                                          server->udpPort4(), foreign.data(), foreign.size());
                    }
                    net::closeSocket(stranger);
                    break;
                }
            }
        }
        net::closeSocket(datagrams);
    }

    CountingDelegate counting;
    bool foreignSourceWorks = secondLoopbackSourceWorks();
};

TEST_F(MixedTraffic, ValidMessagesAllArriveBesideMalformedOnesAndBroadcasts) {
    DebugCapture debugLines;
    startServer(counting);
    std::vector<std::unique_ptr<TestClient>> clients;
    std::vector<net::Family> families;
    for (int i = 0; i < clientCount; ++i) {
        families.push_back(i % 2 == 0 ? net::Family::ipv4 : net::Family::ipv6);
        clients.push_back(admittedClient(families.back()));
    }

    std::vector<BroadcastReader> readers(clientCount);
    for (int i = 0; i < clientCount; ++i) {
        readers[i].thread = std::thread([&client = *clients[i], &reader = readers[i]] {
            const auto deadline = std::chrono::steady_clock::now() + deliveryLimit * 2;
            while (!reader.sawFinal && std::chrono::steady_clock::now() < deadline) {
                const auto message = client.readMessage(std::chrono::milliseconds(200));
                if (!message) {
                    continue;
                }
                const auto record = wire::readAppName(*message);
                if (message->header != wire::MessageHeader{144, wire::AppName, 132} || !record) {
                    reader.sawForeign = true;
                } else if (record->nameView() == "final") {
                    reader.sawFinal = true;
                }
                ++reader.received;
            }
        });
    }

    std::atomic<bool> trafficDone{false};
    std::atomic<int> broadcasts{0};
    std::thread broadcaster([&] {
        const Message tick = wire::buildAppName(named("tick"));
        while (!trafficDone) {
            server->broadcast(tick);
            ++broadcasts;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });

    std::vector<ClientTally> tallies(clientCount);
    std::vector<std::thread> senders;
    for (int i = 0; i < clientCount; ++i) {
        senders.emplace_back([&, i] {
            sendPlan(static_cast<std::uint32_t>(i), *clients[i], families[i], tallies[i]);
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }

    std::uint32_t validSent = 0;
    int udpInfoSent = 0;
    for (std::uint32_t id = 0; id < clientCount; ++id) {
        const ClientTally& tally = tallies[id];
        ASSERT_FALSE(tally.failed) << "client " << id << " stalled";
        validSent += tally.tcpSent + tally.udpSent;
        udpInfoSent += tally.udpInfoSent;
        ASSERT_TRUE(counting.waitForCount(id, overTcp, tally.tcpSent)) << id;
        ASSERT_TRUE(counting.waitForCount(id, overUdp, tally.udpSent)) << id;
        // TCP keeps its order; a datagram may not, but each arrives exactly once.
        std::vector<std::uint32_t> expected(tally.tcpSent);
        for (std::uint32_t s = 0; s < tally.tcpSent; ++s)
            expected[s] = s;
        EXPECT_EQ(counting.sequences(id, overTcp), expected) << id;
        const auto udp = counting.sequences(id, overUdp);
        const std::set<std::uint32_t> distinct(udp.begin(), udp.end());
        EXPECT_EQ(udp.size(), tally.udpSent) << id;
        EXPECT_EQ(distinct.size(), tally.udpSent) << id;
        EXPECT_TRUE(distinct.empty() || *distinct.rbegin() == tally.udpSent - 1) << id;
    }
    EXPECT_GE(validSent, 5000u);
    trafficDone = true;
    broadcaster.join();

    // Every client is still admitted and served: one more event each, and a last broadcast.
    for (std::uint32_t id = 0; id < clientCount; ++id) {
        ASSERT_TRUE(clients[id]->send(valid(wire::KeyDown, id, overTcp, tallies[id].tcpSent, 0)));
        EXPECT_TRUE(counting.waitForCount(id, overTcp, tallies[id].tcpSent + 1)) << id;
    }
    server->broadcast(wire::buildAppName(named("final")));
    for (auto& reader : readers) {
        reader.thread.join();
        EXPECT_TRUE(reader.sawFinal);
        EXPECT_FALSE(reader.sawForeign);
        EXPECT_GT(reader.received, 1);
    }

    // Nothing but the valid messages reached the delegate; each UdpInfo was seen and dropped.
    EXPECT_EQ(counting.untagged(), 0);
    for (std::uint32_t id = 100; id < 100 + clientCount; ++id) {
        EXPECT_TRUE(counting.sequences(id, overUdp).empty()) << "a foreign host got through";
    }
    EXPECT_EQ(debugLines.count("UDP Info received!\n"), udpInfoSent);
    EXPECT_EQ(server->watchedCount(), serviceSockets + clientCount);
    std::printf("valid %u, broadcasts %d\n", validSent + clientCount, broadcasts.load());
}

}  // namespace
}  // namespace pellvane::testing
