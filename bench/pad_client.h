// The client side of a benchmark: a loopback connection and a pad client admitted by a
// started pad service.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace pellvane::bench {

// A stream connected to the loopback port, or invalidSocket.
net::SocketHandle connectLoopback(std::uint16_t port);
// A pad client over TCP, admitted through Hello, HelloReply and UdpInfo (the pad service
// takes datagrams only from the hosts of admitted clients), or invalidSocket.
net::SocketHandle admitPadClient(std::uint16_t port);

}  // namespace pellvane::bench
