#include "server/socket_io.h"

namespace pellvane {
namespace {

// A pad that vanished (out of range, battery gone) never closes its connection; probing idle
// connections gives its slot back after about a minute.
constexpr int keepAliveIdleSeconds = 30;
constexpr int keepAliveIntervalSeconds = 10;
constexpr int keepAliveProbes = 3;

class SystemSocketIo final : public SocketIo {
  public:
    net::SocketHandle accept(net::SocketHandle listener) override {
        const net::SocketHandle client = net::acceptConnection(listener);
        if (client != net::invalidSocket) {
            // Like the listener's: a failure here leaves a socket that still works, and the
            // loop only reads it when it is readable.
            net::setNonBlocking(client);
            net::setKeepAlive(client, keepAliveIdleSeconds, keepAliveIntervalSeconds,
                              keepAliveProbes);
        }
        return client;
    }
    int receive(net::SocketHandle socket, std::span<std::uint8_t> into) override {
        return net::receiveSome(socket, into.data(), into.size());
    }
    int receiveDatagram(net::SocketHandle socket, std::span<std::uint8_t> into,
                        net::DatagramSource& source) override {
        return net::receiveDatagram(socket, into.data(), into.size(), source);
    }
    int send(net::SocketHandle socket, std::span<const std::uint8_t> bytes) override {
        return net::sendSome(socket, bytes.data(), bytes.size());
    }
    bool peerHost(net::SocketHandle socket, net::HostAddress& host) override {
        return net::peerHost(socket, host);
    }
    bool peerHasGone(net::SocketHandle socket) override { return net::peerHasGone(socket); }
    void shutdown(net::SocketHandle socket) override { net::shutdownBoth(socket); }
    int close(net::SocketHandle socket) override { return net::closeSocket(socket); }
};

}  // namespace

SocketIo& systemSocketIo() {
    static SystemSocketIo io;
    return io;
}

}  // namespace pellvane
