// The select loop of a started server: accepting, reading messages and datagrams,
// admission, DNS-SD replies, and broadcast to admitted clients.
#include <chrono>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "server/dnssd_binding.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace pellvane {
namespace {

constexpr int selectTimeoutMs = 180 * 1000;
constexpr std::size_t datagramBufferSize = 65535;

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
        const int readySockets = net::waitForReadiness(sockets, flags, selectTimeoutMs);
        if (control.ended.load()) {
            break;
        }
        if (readySockets < 0) {
            debug::output(L"Select timed out!\n");
            stopAfterFailure();
            return 1;
        }
        if (readySockets == 0) {
            debug::output(L"Select: readySockets == 0\n");
            continue;
        }
        if (sockets.size() > watchedCount && flags[watchedCount].readable) {
            waker_.drain();
        }

        for (std::size_t i = 0; i < watchedCount; ++i) {
            if (!flags[i].readable) {
                continue;
            }
            const bool passGoesOn = takeReadable(sockets[i], own.kindOf(sockets[i]), datagram);
            if (control.ended.load()) {
                return 1;  // a stop on this thread (a registration error) ended the loop
            }
            if (!passGoesOn) {
                break;
            }
        }
        for (std::size_t i = 0; i < watchedCount; ++i) {
            if (flags[i].exceptional && !takeException(sockets[i], own.kindOf(sockets[i]))) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

// A DNS-SD reply that fails to process stops the server, which ends the loop.
bool ZarvoServer::takeReadable(net::SocketHandle socket, SocketKind kind,
                               std::vector<std::uint8_t>& datagram) {
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
            takeDatagram(socket, kind, datagram);
            break;
        case SocketKind::client:
            takeMessages(socket);
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

void ZarvoServer::acceptClient(net::SocketHandle listener) {
    if (listener == net::invalidSocket) {
        return;
    }
    const net::SocketHandle client = io_.accept(listener);
    if (client == net::invalidSocket) {
        debug::output(L"Invalid client socket\n");
        return;
    }
    std::unique_lock guard(lock_);
    if (watchedSockets_.full() || pendingClients_.full()) {
        // Unwatched, it would never be read nor closed: refuse it at once.
        guard.unlock();
        io_.close(client);
        return;
    }
    pendingClients_.add(client);
    watchedSockets_.add(client);
    guard.unlock();
    streams_[client].clear();
}

int ZarvoServer::dropClient(net::SocketHandle socket) {
    streams_.erase(socket);
    std::lock_guard sending(sendLock_);
    {
        std::lock_guard guard(lock_);
        watchedSockets_.remove(socket);
        pendingClients_.remove(socket);
        admittedPeers_.erase(socket);
    }
    return io_.close(socket);
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

// One receive into the connection's stream, then every whole message it completed, in order.
// A message that arrives in pieces waits in the stream until its last byte has come.
void ZarvoServer::takeMessages(net::SocketHandle socket) {
    FrameDecoder& stream = streams_[socket];
    const int received = io_.receive(socket, stream.receiveSpace());
    if (received == net::transferWouldBlock) {
        return;  // readiness without data: nothing to do this pass
    }
    if (received < 0) {
        dropClient(socket);
        return;
    }
    if (received == 0) {
        debug::output(L"Client gracefully closed connection\n");
        dropClient(socket);
        return;
    }
    stream.received(static_cast<std::size_t>(received));
    for (;;) {
        // Looked up again each time: handling a message may drop the client.
        const auto current = streams_.find(socket);
        if (current == streams_.end()) {
            return;
        }
        const std::size_t discardedBefore = current->second.discardedHeaders();
        std::optional<ReceivedMessage> message = current->second.next();
        if (current->second.discardedHeaders() != discardedBefore) {
            debug::output(L"packetSize < headerSize || packetSize > MAXUINT16");
        }
        if (!message) {
            return;
        }
        handleMessage(std::move(*message), socket);
    }
}

void ZarvoServer::handleMessage(ReceivedMessage message, net::SocketHandle socket) {
    bool pending = false;
    ZarvoConnectionDelegate* target = nullptr;
    {
        std::lock_guard guard(lock_);
        pending = pendingClients_.contains(socket);
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
        target->serverDidReceiveMessage(this, std::move(message));
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
        if (header.argument != wire::helloArgument ||
            target->shouldAdmitClient(this, &message) == 0) {
            sendWhole(socket, wire::buildRefusal(serviceName_));
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
        target->serverDidReceiveMessage(this, std::move(message));
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

// One datagram, one message: it is handed on when it is exactly one whole message, comes
// from a sender of the socket's family and, for the pad service, from an admitted host.
void ZarvoServer::takeDatagram(net::SocketHandle socket, SocketKind kind,
                               std::vector<std::uint8_t>& buffer) {
    net::DatagramSource source;
    const int received = io_.receiveDatagram(socket, buffer, source);
    const int expectedSourceLength =
        kind == SocketKind::datagram4 ? net::ipv4AddressLength : net::ipv6AddressLength;
    if (received < static_cast<int>(wire::headerSize) ||
        source.sourceLength != expectedSourceLength) {
        return;
    }
    std::optional<ReceivedMessage> message =
        wire::wholeMessage(std::span(buffer).first(static_cast<std::size_t>(received)));
    if (!message) {
        return;
    }
    // Without admission by datagram, only hosts that the local user admitted may send
    // events to the pad service; the channel service takes them from anyone.
    if (!autoAdmit() && !datagramSourceAdmitted(source.host)) {
        return;
    }
    if (ZarvoConnectionDelegate* target = delegate()) {
        target->serverDidReceiveMessage(this, std::move(*message));
    }
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
    for (net::SocketHandle client : clients) {
        const bool whole = io_.sendWhole(client, message, sendTimeoutMs);
        lastResult = whole ? static_cast<int>(message.size()) : -1;
        if (!whole) {
            // Only the loop thread closes clients; ending the connection makes it do so.
            io_.shutdown(client);
        }
    }
    return lastResult;
}

}  // namespace pellvane
