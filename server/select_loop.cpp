// The select loop of a started server: accepting, reading messages and datagrams,
// admission, DNS-SD replies, and broadcast to admitted clients.
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "server/broadcast_deadline.h"
#include "server/dnssd_binding.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace pellvane {
namespace {

constexpr int selectTimeoutMs = 180 * 1000;
constexpr std::size_t datagramBufferSize = 65535;
// The most that one pass takes from one source, so that a busy pad cannot hold up the others:
// with the 1 ms pause between passes, a pad still gets well over 64,000 events a second in.
constexpr int datagramsPerPass = 256;
constexpr int messagesPerPass = 256;

}  // namespace

int ZarvoServer::run(LoopControl& control) {
    ServiceSockets own;
    {
        std::lock_guard guard(lock_);
        own = serviceSocketsLocked();
        watchedSockets_.clear();
        // A socket that could not be opened is left out: the service runs on without it.
        for (net::SocketHandle socket : {own.dnssd, own.tcp4, own.tcp6, own.udp4, own.udp6}) {
            if (socket != net::invalidSocket) {
                watchedSockets_.add(socket);
            }
        }
    }
    std::vector<std::uint8_t> datagram(datagramBufferSize);
    std::vector<net::SocketHandle> sockets;
    std::vector<net::ReadinessFlags> flags;

    while (!control.ended.load()) {
        dropRequestedClients();
        {
            std::lock_guard guard(lock_);
            // A registration renamed after a conflict has a new reply socket.
            own = serviceSocketsLocked();
            auto watched = watchedSockets_.entries();
            sockets.assign(watched.begin(), watched.end());
        }
        const std::size_t watchedCount = sockets.size();
        if (waker_.socket() != net::invalidSocket) {
            sockets.push_back(waker_.socket());
        }
        flags.assign(sockets.size(), net::ReadinessFlags{});
        // Whole messages left in a stream by the last pass are not seen by the wait: with
        // some waiting, it only looks and does not block.
        const bool messagesWaiting = hasWaitingMessages();
        const int readySockets =
            net::waitForReadiness(sockets, flags, messagesWaiting ? 0 : waitTimeMs());
        if (control.ended.load()) {
            break;
        }
        closeSilentConnections();
        if (readySockets < 0) {
            debug::output(L"Select timed out!\n");
            stopAfterFailure();
            return 1;
        }
        if (readySockets == 0 && !messagesWaiting) {
            debug::output(L"Select: readySockets == 0\n");
            continue;
        }
        if (sockets.size() > watchedCount && flags[watchedCount].readable) {
            waker_.drain();
        }

        bool moreWaiting = false;  // a source gave all that one pass takes and may hold more
        for (std::size_t i = 0; i < watchedCount; ++i) {
            if (!flags[i].readable) {
                continue;
            }
            const bool passGoesOn =
                takeReadable(sockets[i], own.kindOf(sockets[i]), datagram, moreWaiting);
            if (control.ended.load()) {
                return 1;  // a stop on this thread (a registration error) ended the loop
            }
            if (!passGoesOn) {
                break;
            }
        }
        const bool messagesLeft = handleWaitingMessages();
        if (control.ended.load()) {
            return 1;
        }
        moreWaiting = moreWaiting || messagesLeft;
        for (std::size_t i = 0; i < watchedCount; ++i) {
            if (flags[i].exceptional && !takeException(sockets[i], own.kindOf(sockets[i]))) {
                break;
            }
        }
        // The pause keeps a trickle of events from waking the loop once each; a source with
        // more waiting is served again at once (a pause may last a whole timer tick, 15.6 ms
        // on Windows, longer than a busy pad can wait).
        if (!moreWaiting) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return 1;
}

// A DNS-SD reply that fails to process stops the server, which ends the loop. `moreWaiting`
// is set when a socket gave all that one pass takes from it.
bool ZarvoServer::takeReadable(net::SocketHandle socket, SocketKind kind,
                               std::vector<std::uint8_t>& datagram, bool& moreWaiting) {
    switch (kind) {
        case SocketKind::listener:
            acceptClient(socket);
            break;
        case SocketKind::dnsService: {
            dnssd::DNSServiceRef ref = nullptr;
            {
                std::lock_guard guard(lock_);
                ref = serviceRef_;
            }
            if (dnssd::DNSServiceProcessResult(ref) != dnssd::kDNSServiceErr_NoError) {
                // The library has lost its daemon (a restarted Bonjour Service closes the
                // socket, which then reads as ready for ever): the registration is gone, and
                // only a new one brings the service back.
                stopAfterFailure();
                return false;
            }
            break;
        }
        case SocketKind::datagram4:
        case SocketKind::datagram6:
            moreWaiting = takeDatagrams(socket, kind, datagram) || moreWaiting;
            break;
        case SocketKind::client:
            moreWaiting = takeStreamBytes(socket) || moreWaiting;
            break;
    }
    return true;
}

// Exceptions on the server's own sockets end the pass; one on a client drops it.
bool ZarvoServer::takeException(net::SocketHandle socket, SocketKind kind) {
    if (kind == SocketKind::datagram4) {
        debug::output(L"udpSocket4 exception\n");
    } else if (kind == SocketKind::datagram6) {
        debug::output(L"udpSocket6 exception\n");
    }
    if (kind != SocketKind::client) {
        return false;
    }
    // The read pass may have dropped it already; its handle may not be ours any more.
    std::unique_lock guard(lock_);
    const bool stillWatched = watchedSockets_.contains(socket);
    guard.unlock();
    if (stillWatched) {
        debug::output(L"Client unespectedly closed connection\n");
        dropClient(socket);
    }
    return true;
}

// A newcomer waits for admission beside the others, unless its host has enough connections
// waiting already. When every slot is taken, the connection that has waited longest for
// admission gives way: idle connections cannot lock a real device out.
void ZarvoServer::acceptClient(net::SocketHandle listener) {
    if (listener == net::invalidSocket) {
        return;
    }
    const net::SocketHandle client = io_.accept(listener);
    if (client == net::invalidSocket) {
        debug::output(L"Invalid client socket\n");
        return;
    }
    net::HostAddress peer;  // a peer the system cannot name counts as one unnamed host
    io_.peerHost(client, peer);
    const wchar_t* refusal = nullptr;
    net::SocketHandle givesWay = net::invalidSocket;
    {
        std::lock_guard guard(lock_);
        if (pendingClients_.countFrom(peer) >= PendingConnections::perHostLimit) {
            refusal = L"Too many connections waiting for admission from one host\n";
        } else if (watchedSockets_.full()) {
            givesWay = pendingClients_.oldest();
            refusal = givesWay == net::invalidSocket ? L"No room for another client\n" : nullptr;
        }
    }
    if (refusal != nullptr) {
        // Unwatched, it would never be read nor closed: refuse it at once.
        debug::output(refusal);
        io_.close(client);
        return;
    }
    if (givesWay != net::invalidSocket) {
        debug::output(L"The connection waiting longest for admission gives way\n");
        dropClient(givesWay);
    }
    {
        std::lock_guard guard(lock_);
        pendingClients_.add(client, peer, PendingConnections::Clock::now());
        watchedSockets_.add(client);
    }
    streams_[client].clear();
}

// A connection that has not delivered a whole message in its first seconds is closed.
void ZarvoServer::closeSilentConnections() {
    std::vector<net::SocketHandle> silent;
    {
        std::lock_guard guard(lock_);
        silent = pendingClients_.overdue(PendingConnections::Clock::now());
    }
    for (net::SocketHandle socket : silent) {
        debug::output(L"Closing a connection that sent no message in time\n");
        dropClient(socket);
    }
}

// Until the next connection's first message falls due, or the loop's usual timeout.
int ZarvoServer::waitTimeMs() const {
    std::optional<PendingConnections::Clock::time_point> due;
    {
        std::lock_guard guard(lock_);
        due = pendingClients_.nextDeadline();
    }
    if (!due) {
        return selectTimeoutMs;
    }
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(*due - PendingConnections::Clock::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, selectTimeoutMs));
}

int ZarvoServer::dropClient(net::SocketHandle socket) {
    streams_.erase(socket);
    std::optional<LostHost> lost;
    int result = 0;
    {
        std::lock_guard sending(sendLock_);
        {
            std::lock_guard guard(lock_);
            watchedSockets_.remove(socket);
            pendingClients_.remove(socket);
            lost = forgetAdmittedLocked(socket);
            std::erase(dropRequests_, socket);  // its handle may be reused from now on
        }
        result = io_.close(socket);
    }
    ZarvoConnectionDelegate* target = delegate();
    if (lost && target != nullptr) {
        target->serverDidLoseHost(this, lost->host, lost->lastClient);
    }
    return result;
}

void ZarvoServer::removePending(net::SocketHandle socket) {
    std::lock_guard guard(lock_);
    pendingClients_.remove(socket);
}

// The pad service takes datagrams from the hosts of its admitted clients only.
void ZarvoServer::recordAdmittedPeer(net::SocketHandle socket) {
    net::HostAddress peer;
    if (!io_.peerHost(socket, peer)) {
        return;
    }
    std::lock_guard guard(lock_);
    admittedPeers_[socket] = peer;
}

// One receive into the connection's stream. A message that arrives in pieces waits there until
// its last byte has come; whole ones wait for handleWaitingMessages. True when the receive
// filled all the room it had, so that more may be waiting in the socket.
bool ZarvoServer::takeStreamBytes(net::SocketHandle socket) {
    FrameDecoder& stream = streams_[socket];
    const std::span<std::uint8_t> room = stream.receiveSpace();
    if (room.empty()) {
        return true;  // whole messages fill the stream: they are handled first
    }
    const int received = io_.receive(socket, room);
    if (received == net::transferWouldBlock) {
        return false;  // readiness without data: nothing to do this pass
    }
    if (received < 0) {
        dropClient(socket);
        return false;
    }
    if (received == 0) {
        debug::output(L"Client gracefully closed connection\n");
        dropClient(socket);
        return false;
    }
    stream.received(static_cast<std::size_t>(received));
    return static_cast<std::size_t>(received) == room.size();
}

bool ZarvoServer::hasWaitingMessages() const {
    return std::any_of(streams_.begin(), streams_.end(),
                       [](const auto& entry) { return entry.second.hasMessage(); });
}

// Up to messagesPerPass whole messages of each connection, each connection's in the order
// they came. Every stream that holds a header is looked at, so that one out of range is
// dropped (and said) as soon as it is whole. True when a connection still holds a whole
// message after its share of the pass.
bool ZarvoServer::handleWaitingMessages() {
    // Gathered first: handling a message may drop a client, and its stream with it.
    streamsWithBytes_.clear();
    for (const auto& [socket, stream] : streams_) {
        if (stream.held() >= wire::headerSize) {
            streamsWithBytes_.push_back(socket);
        }
    }
    bool messagesLeft = false;
    for (net::SocketHandle socket : streamsWithBytes_) {
        messagesLeft = handleMessagesOf(socket) || messagesLeft;
    }
    return messagesLeft;
}

// Up to messagesPerPass whole messages of one connection; true when a whole one is left.
bool ZarvoServer::handleMessagesOf(net::SocketHandle socket) {
    for (int handled = 0; handled < messagesPerPass; ++handled) {
        // Looked up again each time: handling a message may drop the client.
        const auto stream = streams_.find(socket);
        if (stream == streams_.end()) {
            return false;
        }
        const std::size_t discardedBefore = stream->second.discardedHeaders();
        std::optional<ReceivedMessage> message = stream->second.next();
        if (stream->second.discardedHeaders() != discardedBefore) {
            debug::output(L"packetSize < headerSize || packetSize > MAXUINT16");
        }
        if (!message) {
            return false;
        }
        handleMessage(std::move(*message), socket);
    }
    const auto stream = streams_.find(socket);
    return stream != streams_.end() && stream->second.hasMessage();
}

void ZarvoServer::handleMessage(ReceivedMessage message, net::SocketHandle socket) {
    bool pending = false;
    ZarvoConnectionDelegate* target = nullptr;
    {
        std::lock_guard guard(lock_);
        pending = pendingClients_.contains(socket);
        pendingClients_.firstMessageArrived(socket);
        target = delegate_;
    }
    if (target == nullptr) {
        dropClient(socket);
        return;
    }
    const wire::MessageHeader header = message.header;
    if (!pending) {
        if (header.type == wire::UdpInfo) {
            debug::output(L"UDP Info received!\n");
            return;
        }
        target->serverDidReceiveMessageFrom(this, std::move(message), admittedHost(socket));
        return;
    }

    std::unique_ptr<wire::AppList> list;
    if (!autoAdmit()) {
        if (header.type == wire::HelloReply) {
            return;  // stays pending
        }
        if (header.type != wire::Hello) {
            dropClient(socket);
            return;
        }
        // Nobody is asked about a device that has gone already, and nobody is admitted
        // that went, or whose server began to stop, while the question was open.
        if (header.argument == wire::helloArgument && !clientStillWanted(socket)) {
            dropClient(socket);
            return;
        }
        if (header.argument != wire::helloArgument ||
            target->shouldAdmitClient(this, &message) == 0) {
            sendWhole(socket, wire::buildRefusal(serviceName_));
            dropClient(socket);
            return;
        }
        if (!clientStillWanted(socket)) {
            dropClient(socket);
            return;
        }
        list = target->applicationList(this, &message);
    }

    const Message reply = wire::buildHelloReply(serviceName_, list.get());
    list.reset();
    removePending(socket);
    recordAdmittedPeer(socket);
    if (!sendWhole(socket, reply)) {
        dropClient(socket);  // it could not take its reply in time
        return;
    }
    target->serverDidAdmitClient(this);
    sendUdpInfo(socket);
    if (autoAdmit()) {
        target->serverDidReceiveMessageFrom(this, std::move(message), admittedHost(socket));
    }
}

bool ZarvoServer::sendWhole(net::SocketHandle socket, std::span<const std::uint8_t> message) {
    std::lock_guard sending(sendLock_);
    return io_.sendWhole(socket, message, sendTimeoutMs);
}

int ZarvoServer::sendUdpInfo(net::SocketHandle socket) {
    debug::output(L"UDP Channel opened to client\n");
    const Message info = wire::buildUdpInfo(udpPort4(), udpPort6());
    return sendWhole(socket, info) ? 1 : 0;
}

// What the socket holds, up to datagramsPerPass, in the order it came; true when the pass
// took all it may, so that more may be waiting.
bool ZarvoServer::takeDatagrams(net::SocketHandle socket, SocketKind kind,
                                std::vector<std::uint8_t>& buffer) {
    for (int taken = 0; taken < datagramsPerPass; ++taken) {
        if (!takeDatagram(socket, kind, buffer)) {
            return false;
        }
    }
    return true;
}

// One datagram, one message: it is handed on when it is exactly one whole message, comes
// from a sender of the socket's family and, for the pad service, from an admitted host.
// False when there was none to take.
bool ZarvoServer::takeDatagram(net::SocketHandle socket, SocketKind kind,
                               std::vector<std::uint8_t>& buffer) {
    net::DatagramSource source;
    const int received = io_.receiveDatagram(socket, buffer, source);
    if (received < 0) {
        return false;
    }
    const int expectedSourceLength =
        kind == SocketKind::datagram4 ? net::ipv4AddressLength : net::ipv6AddressLength;
    if (received < static_cast<int>(wire::headerSize) ||
        source.sourceLength != expectedSourceLength) {
        return true;
    }
    // Without admission by datagram, only hosts that the local user admitted may send
    // events to the pad service; the channel service takes them from anyone. The source is
    // looked at first, so that a flood from elsewhere is not even copied.
    if (!autoAdmit() && !datagramSourceAdmitted(source.host)) {
        return true;
    }
    std::optional<ReceivedMessage> message =
        wire::wholeMessage(std::span(buffer).first(static_cast<std::size_t>(received)));
    if (!message) {
        return true;
    }
    if (ZarvoConnectionDelegate* target = delegate()) {
        target->serverDidReceiveMessageFrom(this, std::move(*message), source.host);
    }
    return true;
}

bool ZarvoServer::datagramSourceAdmitted(const net::HostAddress& source) const {
    std::lock_guard guard(lock_);
    for (const auto& [socket, peer] : admittedPeers_) {
        if (peer == source) {
            return true;
        }
    }
    return false;
}

int ZarvoServer::broadcast(std::span<const std::uint8_t> message) {
    std::lock_guard sending(sendLock_);
    std::vector<net::SocketHandle> clients;
    {
        std::lock_guard guard(lock_);
        const ServiceSockets own = serviceSocketsLocked();
        for (net::SocketHandle socket : watchedSockets_.entries()) {
            if (own.kindOf(socket) == SocketKind::client && !pendingClients_.contains(socket)) {
                clients.push_back(socket);
            }
        }
    }
    // Closing a client takes sendLock_, so none of these handles can be closed (and reused)
    // while the sends run.
    int lastResult = 0;
    const BroadcastDeadline deadline;
    for (net::SocketHandle client : clients) {
        const bool whole = io_.sendWhole(client, message, deadline.remainingMs());
        lastResult = whole ? static_cast<int>(message.size()) : -1;
        if (!whole) {
            // It could not take the message in time: nothing more goes to it, and the
            // loop, which alone closes clients, drops it.
            io_.shutdown(client);
            requestDrop(client);
        }
    }
    return lastResult;
}

}  // namespace pellvane
