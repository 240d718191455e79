#include "tools/pad_connection.h"

#include <utility>

#include "tools/service_browser.h"

namespace pellvane::tool {
namespace {

constexpr int sendTimeoutMs = 5000;
// A host that has not answered by then is taken as unreachable; the next address is tried.
constexpr int connectTimeoutMs = 10000;
// How long DNS-SD may take to answer for a host name that the system's resolver does not know.
constexpr int announcedHostWaitMs = 3000;

}  // namespace

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
        net::Socket socket(net::openSocket(address.family, net::Transport::stream));
        if (socket && net::connectWithin(socket.get(), address.family, address.text.data(), port,
                                         connectTimeoutMs)) {
            socket_ = std::move(socket);
            address_ = address;
            return OpenStatus::connected;
        }
    }
    return OpenStatus::unreachable;
}

void PadConnection::close() {
    socket_.reset();
    datagramSocket_.reset();
    received_.clear();
}

bool PadConnection::send(std::span<const std::uint8_t> message) {
    return socket_ && net::sendAll(socket_.get(), message.data(), message.size(), sendTimeoutMs);
}

bool PadConnection::sendDatagram(std::uint16_t port, std::span<const std::uint8_t> datagram) {
    if (!datagramSocket_) {
        datagramSocket_.reset(net::openSocket(address_.family, net::Transport::datagram));
        if (!datagramSocket_) {
            return false;
        }
    }
    const int sent = net::sendDatagram(datagramSocket_.get(), address_.family, address_.text.data(),
                                       port, datagram.data(), datagram.size());
    return sent == static_cast<int>(datagram.size());
}

ReadStatus PadConnection::read(ReceivedMessage& message, int timeoutMs) {
    if (!socket_) {
        return ReadStatus::closed;
    }
    return readMessage(socket_.get(), received_, message, timeoutMs);
}

}  // namespace pellvane::tool
