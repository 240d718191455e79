// Drives a server's intake without its loop thread and without sockets: an in-memory
// SocketIo stands in for the client connection and the datagram socket, and the driver runs
// the steps the loop would run while they are readable. Each cut in the stream therefore
// lands exactly where the input says, on every execution.
//
// The servers are made once and serve every run: a run ends with the client gone, which
// must leave a server as it was before the run (the fuzz targets check it).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "server/zarvo_server.h"

namespace pellvane::fuzzing {

struct IntakeSettings {
    bool autoAdmit = false;  // a channel service rather than a pad service
    bool refuse = false;     // the delegate declines every Hello
    bool listApps = false;   // admissions hand over a few applications
};

// Notes what the intake hands on. No locks: a fuzz target runs on one thread.
class NotingDelegate final : public ZarvoConnectionDelegate {
  public:
    void serverDidPublish(ZarvoServer*) override {}
    void resetRetryCount(ZarvoServer*) override {}
    void serverDidAdmitClient(ZarvoServer*) override { ++admissions; }
    void serverDidStop(ZarvoServer*) override {}
    void reservedNotification(ZarvoServer*) override {}
    int shouldAdmitClient(ZarvoServer*, const ReceivedMessage*) override {
        ++questions;
        return admitAnswer;
    }
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer*, const ReceivedMessage*) override;
    void serverDidReceiveMessage(ZarvoServer*, ReceivedMessage message) override {
        messages.push_back(std::move(message));
    }
    // Back to a fresh delegate that answers `answer` and lists the applications or none.
    void reset(int answer, bool listApps);

    int admitAnswer = 1;
    bool listApps = false;
    int questions = 0;
    int admissions = 0;
    std::vector<ReceivedMessage> messages;
};

// One client connection and one datagram socket, in memory.
class MemorySocketIo final : public SocketIo {
  public:
    static constexpr net::SocketHandle listener = 1;
    static constexpr net::SocketHandle client = 2;
    static constexpr net::SocketHandle datagramSocket = 3;

    // Back to no client and no datagrams. The buffers keep their memory for the next run:
    // a run that allocates nothing of its own is cheaper, and its mallocs and frees balance
    // (libFuzzer runs its leak check only on runs where they do not).
    void reset();
    void connect() { connectPending_ = true; }
    void write(std::span<const std::uint8_t> bytes) {
        toServer_.insert(toServer_.end(), bytes.begin(), bytes.end());
    }
    void closeClientSide() { clientClosed_ = true; }
    // Whether the server holds the connection: accepted and not closed by it.
    bool clientOpen() const { return clientOpen_; }
    bool hasUnreadBytes() const { return unread() > 0 || clientClosed_; }
    void queueDatagram(std::span<const std::uint8_t> bytes, const net::HostAddress& source);
    bool hasDatagrams() const { return nextDatagram_ < datagrams_.size(); }
    std::size_t bytesSent() const { return bytesSent_; }

    net::SocketHandle accept(net::SocketHandle listener) override;
    int receive(net::SocketHandle socket, std::span<std::uint8_t> into) override;
    int receiveDatagram(net::SocketHandle socket, std::span<std::uint8_t> into,
                        net::DatagramSource& source) override;
    int send(net::SocketHandle socket, std::span<const std::uint8_t> bytes) override;
    bool peerHost(net::SocketHandle socket, net::HostAddress& host) override;
    bool peerHasGone(net::SocketHandle socket) override {
        return socket != client || !clientOpen_ || (clientClosed_ && unread() == 0);
    }
    void shutdown(net::SocketHandle) override {}
    int close(net::SocketHandle socket) override;

  private:
    // A datagram's bytes lie in datagramBytes_.
    struct Datagram {
        std::size_t offset = 0;
        std::size_t size = 0;
        net::HostAddress source;
    };

    std::size_t unread() const { return toServer_.size() - readOffset_; }

    bool connectPending_ = false;
    bool clientOpen_ = false;
    bool clientClosed_ = false;
    std::vector<std::uint8_t> toServer_;  // what the client wrote, from readOffset_ on unread
    std::size_t readOffset_ = 0;
    std::vector<Datagram> datagrams_;  // in the order they came, taken from nextDatagram_ on
    std::vector<std::uint8_t> datagramBytes_;
    std::size_t nextDatagram_ = 0;
    std::size_t bytesSent_ = 0;
};

// Answers each question as it is put, on the calling thread: a fuzz run has no other.
class AnsweringAtOnce final : public QuestionAsker {
  public:
    explicit AnsweringAtOnce(ZarvoServer*& server, NotingDelegate& delegate)
        : server_(server), delegate_(delegate) {}
    void put(Question question) override;
    bool withdraw(ClientId) override { return false; }
    void takeAnswers(std::vector<Answer>& into) override;

  private:
    ZarvoServer*& server_;
    NotingDelegate& delegate_;
    std::vector<Answer> answers_;
};

class IntakeDriver {
  public:
    IntakeDriver();
    ~IntakeDriver();
    IntakeDriver(const IntakeDriver&) = delete;
    IntakeDriver& operator=(const IntakeDriver&) = delete;

    // Starts a run on the pad service (or, with autoAdmit, the channel service) with a fresh
    // recording delegate.
    void begin(const IntakeSettings& settings);
    // Ends the run: the client goes away, if the server still holds it.
    void end();

    // A client connects and the server accepts it as pending.
    bool connectClient();
    // The client writes the bytes; the server takes them as the loop does while the
    // connection is readable. Does nothing once the server has dropped the client.
    void feed(std::span<const std::uint8_t> bytes);
    // The client closes its side and the server reads to the end, as the loop would.
    void closeClient();
    // Whether the server still holds the client: as the in-memory connection sees it (cheap),
    // and as the server's own records say.
    bool clientOpen() const { return io_.clientOpen(); }
    bool clientWatched() const;
    // What the server of this run still holds: watched sockets, clients and those waiting.
    std::size_t heldByServer() const;

    // A datagram waits on the datagram socket, from the admitted host, or with `foreign` from
    // a host that never connected; takeDatagrams lets the intake take them all, in passes.
    void queueDatagram(std::span<const std::uint8_t> bytes, bool foreign);
    void takeDatagrams();

    NotingDelegate& delegate() { return delegate_; }

  private:
    void takeWhileReadable();
    std::optional<ClientId> client() const;

    NotingDelegate delegate_;
    MemorySocketIo io_;
    ZarvoServer padServer_;
    ZarvoServer channelServer_;
    ZarvoServer* server_ = &padServer_;
    AnsweringAtOnce questions_{server_, delegate_};
};

}  // namespace pellvane::fuzzing
