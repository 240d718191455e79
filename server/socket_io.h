// The calls a server makes on its clients' connections and its datagram sockets. The program
// uses the operating system's sockets (systemSocketIo); the fuzz targets put bytes in memory
// in their place, so that the whole intake runs without a network.
#pragma once

#include <cstdint>
#include <span>

#include "platform/sockets.h"

namespace pellvane {

class SocketIo {
  public:
    virtual ~SocketIo() = default;

    // A connection from a listener, made non-blocking and probed when idle (keepalive);
    // invalidSocket when there is none.
    virtual net::SocketHandle accept(net::SocketHandle listener) = 0;
    // What net::receiveSome and net::receiveDatagram answer.
    virtual int receive(net::SocketHandle socket, std::span<std::uint8_t> into) = 0;
    virtual int receiveDatagram(net::SocketHandle socket, std::span<std::uint8_t> into,
                                net::DatagramSource& source) = 0;
    // What net::sendSome answers: as much as the connection takes now, without waiting.
    virtual int send(net::SocketHandle socket, std::span<const std::uint8_t> bytes) = 0;
    virtual bool peerHost(net::SocketHandle socket, net::HostAddress& host) = 0;
    // See net::peerHasGone: the peer closed or reset, seen without reading anything.
    virtual bool peerHasGone(net::SocketHandle socket) = 0;
    // Ends the connection without releasing the handle (see net::shutdownBoth).
    virtual void shutdown(net::SocketHandle socket) = 0;
    virtual int close(net::SocketHandle socket) = 0;
};

// The operating system's sockets.
SocketIo& systemSocketIo();

}  // namespace pellvane
