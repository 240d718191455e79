// The select loop of a started server: accepting, reading messages and datagrams,
// admission, DNS-SD replies, and broadcast to admitted clients.
#include <chrono>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "server/broadcast_deadline.h"
#include "server/dnssd_binding.h"
#include "server/zarvo_server.h"

namespace pellvane {
namespace {

constexpr int selectTimeoutMs = 180 * 1000;
constexpr int maxBodyReceives = 10;
constexpr std::size_t datagramBufferSize = 65535;
constexpr int ipv4SourceLength = 16;
constexpr int ipv6SourceLength = 28;

}  // namespace

int ZarvoServer::run(LoopControl& control) {
    net::SocketHandle dnssdSocket = net::invalidSocket;
    ServiceSockets own;
    {
        std::lock_guard guard(lock_);
        dnssdSocket = dnssdSocket_;
        own = {tcpSocket4_, tcpSocket6_, udpSocket4_, udpSocket6_};
        watchedSockets_.clear();
        // A socket that could not be opened is left out: the service runs on without it.
        for (net::SocketHandle socket : {dnssdSocket, own.tcp4, own.tcp6, own.udp4, own.udp6}) {
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
            dnssdSocket = dnssdSocket_;  // a registration renamed after a conflict has a new one
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
            const net::SocketHandle socket = sockets[i];
            if (socket == own.tcp4 || socket == own.tcp6) {
                acceptClient(socket);
            } else if (socket == dnssdSocket) {
                dnssd::DNSServiceRef ref = nullptr;
                {
                    std::lock_guard guard(lock_);
                    ref = serviceRef_;
                }
                const auto result = dnssd::DNSServiceProcessResult(ref);
                if (control.ended.load()) {
                    return 1;  // a registration error stopped the server
                }
                if (result != dnssd::kDNSServiceErr_NoError) {
                    // The library has lost its daemon (a restarted Bonjour Service closes
                    // the socket, which then reads as ready for ever): the registration is
                    // gone, and only a new one brings the service back.
                    stopAfterFailure();
                    return 1;
                }
            } else if (socket == own.udp4) {
                takeDatagram(socket, ipv4SourceLength, datagram);
            } else if (socket == own.udp6) {
                takeDatagram(socket, ipv6SourceLength, datagram);
            } else {
                takeHeader(socket);
            }
            if (control.ended.load()) {
                return 1;
            }
        }

        for (std::size_t i = 0; i < watchedCount; ++i) {
            if (!flags[i].exceptional) {
                continue;
            }
            const net::SocketHandle socket = sockets[i];
            if (socket == own.tcp4 || socket == own.tcp6 || socket == dnssdSocket) {
                break;
            }
            if (socket == own.udp4) {
                debug::output(L"udpSocket4 exception\n");
                break;
            }
            if (socket == own.udp6) {
                debug::output(L"udpSocket6 exception\n");
                break;
            }
            // The read pass may have dropped it already; its handle may not be ours any more.
            std::unique_lock guard(lock_);
            const bool stillWatched = watchedSockets_.contains(socket);
            guard.unlock();
            if (stillWatched) {
                debug::output(L"Client unespectedly closed connection\n");
                dropClient(socket);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return 1;
}

void ZarvoServer::acceptClient(net::SocketHandle listener) {
    if (listener == net::invalidSocket) {
        return;
    }
    const net::SocketHandle client = net::acceptConnection(listener);
    if (client == net::invalidSocket) {
        debug::output(L"Invalid client socket\n");
        return;
    }
    net::setNonBlocking(client);  // as the listener's, the result does not change the outcome
    std::unique_lock guard(lock_);
    if (watchedSockets_.full() || pendingClients_.full()) {
        // Unwatched, it would never be read nor closed: refuse it at once.
        guard.unlock();
        net::closeSocket(client);
        return;
    }
    pendingClients_.add(client);
    watchedSockets_.add(client);
}

int ZarvoServer::dropClient(net::SocketHandle socket) {
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
        result = net::closeSocket(socket);
    }
    ZarvoConnectionDelegate* target = delegate();
    if (lost && target != nullptr) {
        target->serverDidLoseHost(this, lost->host, lost->lastClient);
    }
    return result;
}

void ZarvoServer::removePending(net::SocketHandle socket) {
    net::HostAddress peer;
    const bool known = net::peerHost(socket, peer);
    std::lock_guard guard(lock_);
    pendingClients_.remove(socket);
    if (known) {
        admittedPeers_[socket] = peer;
    }
}

void ZarvoServer::takeHeader(net::SocketHandle socket) {
    std::uint8_t header[wire::headerSize] = {};
    const int received = net::receiveSome(socket, header, sizeof header);
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
    if (received < static_cast<int>(wire::headerSize)) {
        debug::output(L"packetSize < headerSize || packetSize > MAXUINT16");
        return;
    }
    readMessage(header, socket);
}

void ZarvoServer::readMessage(std::span<const std::uint8_t> header, net::SocketHandle socket) {
    const std::uint32_t packetSize = wire::readU32(header, 0);
    if (!wire::isValidPacketSize(packetSize)) {
        return;
    }
    Message message(packetSize, 0);
    std::copy(header.begin(), header.end(), message.begin());
    std::size_t filled = wire::headerSize;
    // The connection is non-blocking and a sender writes a message in one piece: a body
    // that is not there now is not waited for.
    for (int call = 0; call < maxBodyReceives && filled < packetSize; ++call) {
        const int received = net::receiveSome(socket, message.data() + filled, packetSize - filled);
        if (received <= 0) {
            return;
        }
        filled += static_cast<std::size_t>(received);
    }
    if (filled < packetSize) {
        return;
    }
    handleMessage(std::move(message), socket);
}

void ZarvoServer::handleMessage(Message message, net::SocketHandle socket) {
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
    const wire::MessageHeader header = *wire::readHeader(message);
    if (!pending) {
        if (header.type == wire::UdpInfo) {
            debug::output(L"UDP Info received!\n");
            return;
        }
        target->serverDidReceiveMessageFrom(this, std::move(message), admittedHost(socket));
        return;
    }

    const Message refusal = wire::buildRefusal(serviceName_);
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
            sendWhole(socket, refusal);
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
    return net::sendAll(socket, message.data(), message.size(), sendTimeoutMs);
}

int ZarvoServer::sendUdpInfo(net::SocketHandle socket) {
    debug::output(L"UDP Channel opened to client\n");
    const Message info = wire::buildUdpInfo(udpPort4(), udpPort6());
    return sendWhole(socket, info) ? 1 : 0;
}

void ZarvoServer::takeDatagram(net::SocketHandle socket, int expectedSourceLength,
                               std::vector<std::uint8_t>& buffer) {
    std::fill(buffer.begin(), buffer.end(), 0);
    net::DatagramSource source;
    const int received = net::receiveDatagram(socket, buffer.data(), buffer.size(), source);
    if (received < static_cast<int>(wire::headerSize) ||
        source.sourceLength != expectedSourceLength) {
        return;
    }
    const auto datagram =
        std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(received));
    if (!wire::isAcceptableDatagram(datagram)) {
        return;
    }
    // Without admission by datagram, only hosts that the local user admitted may send
    // events to the pad service; the channel service takes them from anyone.
    if (!autoAdmit() && !datagramSourceAdmitted(source.host)) {
        return;
    }
    ZarvoConnectionDelegate* target = delegate();
    if (target != nullptr) {
        target->serverDidReceiveMessageFrom(this, Message(datagram.begin(), datagram.end()),
                                            source.host);
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
        const std::intptr_t dnssdSocket =
            serviceRef_ == nullptr ? -1 : dnssd::DNSServiceRefSockFD(serviceRef_);
        for (net::SocketHandle socket : watchedSockets_.entries()) {
            const bool serviceSocket = socket == tcpSocket4_ || socket == tcpSocket6_ ||
                                       socket == udpSocket4_ || socket == udpSocket6_ ||
                                       socket == dnssdSocket;
            if (!serviceSocket && !pendingClients_.contains(socket)) {
                clients.push_back(socket);
            }
        }
    }
    // Closing a client takes sendLock_, so none of these handles can be closed (and reused)
    // while the sends run.
    int lastResult = 0;
    const BroadcastDeadline deadline;
    for (net::SocketHandle client : clients) {
        const bool whole =
            net::sendAll(client, message.data(), message.size(), deadline.remainingMs());
        lastResult = whole ? static_cast<int>(message.size()) : -1;
        if (!whole) {
            // It could not take the message in time: nothing more goes to it, and the
            // loop, which alone closes clients, drops it.
            net::shutdownBoth(client);
            requestDrop(client);
        }
    }
    return lastResult;
}

}  // namespace pellvane
