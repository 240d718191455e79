#include "tools/pad_connection.h"

#include <algorithm>
#include <chrono>

#include "tools/service_browser.h"

namespace pellvane::tool {
namespace {

constexpr int sendTimeoutMs = 5000;
// A host that has not answered by then is taken as unreachable; the next address is tried.
constexpr int connectTimeoutMs = 10000;
// How long DNS-SD may take to answer for a host name that the system's resolver does not know.
constexpr int announcedHostWaitMs = 3000;
constexpr std::size_t receiveChunk = 65536;

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

PadConnection::~PadConnection() {
    close();
}

PadConnection::OpenStatus PadConnection::open(const std::string& host, std::uint16_t port) {
    close();
    std::vector<net::NumericAddress> addresses = net::lookUpHost(host.c_str());
    if (addresses.empty() && isAnnouncedHostName(host)) {
        // A host as browsing names it ("vm.local") where the resolver does not ask mDNS.
        addresses = lookUpAnnouncedHost(host, announcedHostWaitMs);
    }
    if (addresses.empty()) {
        return OpenStatus::unknownHost;
    }
    for (const net::NumericAddress& address : addresses) {
        const net::SocketHandle socket = net::openSocket(address.family, net::Transport::stream);
        if (socket == net::invalidSocket) {
            continue;
        }
        if (net::connectWithin(socket, address.family, address.text.data(), port,
                               connectTimeoutMs)) {
            socket_ = socket;
            address_ = address;
            return OpenStatus::connected;
        }
        net::closeSocket(socket);
    }
    return OpenStatus::unreachable;
}

void PadConnection::close() {
    for (net::SocketHandle* socket : {&socket_, &datagramSocket_}) {
        if (*socket != net::invalidSocket) {
            net::closeSocket(*socket);
            *socket = net::invalidSocket;
        }
    }
    received_.clear();
    peerClosed_ = false;
}

bool PadConnection::send(std::span<const std::uint8_t> message) {
    // One call per message: the server reads a body only as far as it has arrived.
    return socket_ != net::invalidSocket &&
           net::sendAll(socket_, message.data(), message.size(), sendTimeoutMs);
}

bool PadConnection::sendDatagram(std::uint16_t port, std::span<const std::uint8_t> datagram) {
    if (datagramSocket_ == net::invalidSocket) {
        datagramSocket_ = net::openSocket(address_.family, net::Transport::datagram);
        if (datagramSocket_ == net::invalidSocket) {
            return false;
        }
    }
    const int sent = net::sendDatagram(datagramSocket_, address_.family, address_.text.data(), port,
                                       datagram.data(), datagram.size());
    return sent == static_cast<int>(datagram.size());
}

ReadStatus PadConnection::read(Message& message, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        bool malformed = false;
        if (takeBufferedMessage(message, malformed)) {
            return ReadStatus::message;
        }
        if (malformed) {
            return ReadStatus::malformed;
        }
        if (peerClosed_ || socket_ == net::invalidSocket) {
            return ReadStatus::closed;
        }
        if (!fillFromSocket(millisecondsLeft(deadline))) {
            if (peerClosed_) {
                return ReadStatus::closed;
            }
            if (millisecondsLeft(deadline) == 0) {
                return ReadStatus::timedOut;
            }
        }
    }
}

// Waits for data and appends what arrived; false when nothing came.
bool PadConnection::fillFromSocket(int timeoutMs) {
    net::ReadinessFlags flags[1];
    const net::SocketHandle sockets[1] = {socket_};
    const int ready = net::waitForReadiness(sockets, flags, timeoutMs);
    if (ready < 0) {
        peerClosed_ = true;
        return false;
    }
    if (ready == 0 || !flags[0].readable) {
        return false;
    }
    std::uint8_t chunk[receiveChunk];
    const int received = net::receiveSome(socket_, chunk, sizeof chunk);
    if (received == net::transferWouldBlock) {
        return false;
    }
    if (received <= 0) {
        peerClosed_ = true;
        return false;
    }
    received_.insert(received_.end(), chunk, chunk + received);
    return true;
}

bool PadConnection::takeBufferedMessage(Message& message, bool& malformed) {
    const auto header = wire::readHeader(received_);
    if (!header) {
        return false;
    }
    if (!wire::isValidPacketSize(header->packetSize)) {
        malformed = true;  // the stream can no longer be followed
        return false;
    }
    if (received_.size() < header->packetSize) {
        return false;
    }
    message.assign(received_.begin(), received_.begin() + header->packetSize);
    received_.erase(received_.begin(), received_.begin() + header->packetSize);
    return true;
}

}  // namespace pellvane::tool
