// Every client connection of one server, each with an id of its own: its socket, where it
// comes from, what has arrived of its next message, what waits to be sent to it, how far its
// admission has gone, and when it last did something. Ids only grow, so an id that another
// thread kept for a client that has gone since finds nothing, never a newcomer that got the
// same socket handle. A client leaves the table one way, drop(), which closes its socket.
//
// The table also keeps the two select-layout socket sets: the watched sockets (the server's
// own and every client's) and the clients waiting for admission.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "server/client_placement.h"
#include "server/frame_decoder.h"
#include "server/output_queue.h"
#include "server/socket_set.h"

namespace pellvane {

class SocketIo;

enum class ClientStage {
    waiting,   // accepted; its Hello has not been answered
    asked,     // its Hello waits for the user's answer
    admitted,  // its messages go to the delegate
    refused,   // its Refusal is on the way; it is closed once that has gone
};

class ClientTable {
  public:
    using Clock = std::chrono::steady_clock;

    // The time a connection has to deliver its first whole message before it is closed.
    static constexpr std::chrono::milliseconds defaultFirstMessageTime{10'000};
    // Connections from one host that may wait for admission at the same time.
    static constexpr std::uint32_t waitingPerHostLimit = 8;
    // Connections from one host, admitted ones included: nobody holds every place.
    static constexpr std::uint32_t perHostLimit = 8;
    // A client with bytes waiting that takes none of them for this long is dropped.
    static constexpr std::chrono::seconds defaultStallTime{10};

    // What the loop waits for on one socket.
    struct Watch {
        net::SocketHandle socket = net::invalidSocket;
        std::optional<ClientId> client;  // none: one of the server's own sockets
        bool wantReadable = true;
        bool wantWritable = false;
    };
    // What a drop leaves behind.
    struct Dropped {
        net::HostAddress host;
        ClientStage stage = ClientStage::waiting;
        bool hostHasAdmittedLeft = false;  // another admitted client of the host remains
        bool admittedLeft = false;         // any admitted client remains
        int closeResult = 0;
    };
    explicit ClientTable(SocketIo& io) : io_(io) {}
    ~ClientTable();
    ClientTable(const ClientTable&) = delete;
    ClientTable& operator=(const ClientTable&) = delete;

    void setFirstMessageTime(std::chrono::milliseconds time);
    void setStallTime(std::chrono::milliseconds time);

    // The server's own sockets are watched first, in this order; invalid ones are left out.
    void watchServiceSockets(std::span<const net::SocketHandle> sockets);
    void unwatchServiceSocket(net::SocketHandle socket);
    // A renamed registration's new reply socket, in the room its old one left.
    void watchServiceSocket(net::SocketHandle socket);

    // Where a newcomer from `host` fits (see placeNewcomer).
    Placement placeFor(const net::HostAddress& host) const;
    // Takes over the socket; nothing when there is no room to watch it (it is then closed).
    std::optional<ClientId> add(net::SocketHandle socket, const net::HostAddress& host,
                                Clock::time_point now);
    // Closes the client's socket and forgets it; nothing when the id is not (or no longer)
    // a client. Only the loop thread drops, and stop once the loop has ended.
    std::optional<Dropped> drop(ClientId id);
    // Drops every client (stop), and forgets the watched sockets.
    void dropAll();

    // What the loop waits for this pass: the server's own sockets first, then every client
    // in the order they came.
    void watches(std::vector<Watch>& into) const;

    std::optional<ClientStage> stage(ClientId id) const;
    void setStage(ClientId id, ClientStage stage);
    std::optional<net::HostAddress> host(ClientId id) const;
    std::optional<net::SocketHandle> socket(ClientId id) const;
    // A whole message arrived: the first-message deadline is met, and the client is busy.
    void noteActivity(ClientId id, Clock::time_point now);

    // What the loop reads a client with, in one look: the decoder of what has arrived of its
    // messages, its socket and its stage; no decoder when the id is not a client. The decoder
    // is the loop thread's alone: only it reads clients and only it drops them, so it may use
    // the decoder without the lock.
    struct Reading {
        FrameDecoder* stream = nullptr;
        net::SocketHandle socket = net::invalidSocket;
        ClientStage stage = ClientStage::waiting;
        // A client that waits for its answer, or was refused, keeps its messages unread.
        bool takesMessages() const {
            return stream != nullptr &&
                   (stage == ClientStage::waiting || stage == ClientStage::admitted);
        }
    };
    Reading reading(ClientId id);

    // The clients whose decoders hold at least a header, for the loop's pass over messages.
    void clientsWithBytes(std::vector<ClientId>& into);

    // Queues a reply of the client's own; false when the id is not a client.
    bool queue(ClientId id, std::span<const std::uint8_t> message, Clock::time_point now);
    // Queues a relayed message to every admitted client whose queue has room; returns how
    // many took it, and counts those that had no room in `skipped`.
    int queueToAdmitted(std::span<const std::uint8_t> message, int& skipped, Clock::time_point now);
    // Sends what the connection takes of the client's queue, without waiting; false when the
    // send failed (the client is to be dropped).
    bool flush(ClientId id, Clock::time_point now);
    bool hasOutput(ClientId id) const;
    // The clients with bytes waiting, for the loop's writes.
    void clientsWithOutput(std::vector<ClientId>& into) const;

    // Connections whose first message is overdue, and clients that took nothing of their
    // queue for stallTime.
    std::vector<ClientId> overdue(Clock::time_point now) const;
    std::vector<ClientId> stalled(Clock::time_point now) const;
    // The next of those deadlines; nothing when none runs.
    std::optional<Clock::time_point> nextDeadline() const;

    bool hostIsAdmitted(const net::HostAddress& host) const;
    // The name a client's Hello gave, as it came (for the user's list of pads).
    void setDeviceName(ClientId id, std::string name);
    // The admitted clients, in the order they came.
    struct AdmittedClient {
        std::string deviceName;
        net::HostAddress host;
    };
    std::vector<AdmittedClient> admittedClients() const;
    std::uint32_t watchedCount() const;
    std::uint32_t waitingCount() const;  // not yet admitted
    std::uint32_t clientCount() const;
    std::uint32_t admittedCount() const;
    std::size_t size() const { return clientCount(); }

  private:
    struct Client {
        net::SocketHandle socket = net::invalidSocket;
        net::HostAddress host;
        ClientStage stage = ClientStage::waiting;
        Clock::time_point acceptedAt;
        Clock::time_point lastActivity;
        bool spoke = false;  // a whole message has arrived
        FrameDecoder stream;
        OutputQueue output;
        Clock::time_point outputSince;  // when the queue last moved, or filled from empty
        std::string deviceName;
    };

    Client* findLocked(ClientId id);
    const Client* findLocked(ClientId id) const;

    SocketIo& io_;
    // Guards every field below but a client's stream (see Reading). Never held across a
    // receive, a close or a delegate call; a send holds it only for the bookkeeping around it.
    mutable std::mutex lock_;
    std::map<ClientId, Client> clients_;  // in the order they came: ids only grow
    ClientId nextId_ = 1;
    SocketSet watched_;
    SocketSet waiting_;
    std::vector<net::SocketHandle> service_;  // the server's own sockets among watched_
    std::chrono::milliseconds firstMessageTime_ = defaultFirstMessageTime;
    std::chrono::milliseconds stallTime_ = defaultStallTime;
};

}  // namespace pellvane
