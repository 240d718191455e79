// The client side of a benchmark: a loopback connection and a pad client admitted by a
// started pad service.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace pellvane::bench {

// A stream connected to the loopback port from the loopback address `from` (another
// address of 127/8 is another host to the server), or invalidSocket.
net::SocketHandle connectLoopback(std::uint16_t port, const char* from = "127.0.0.1");
// A pad client over TCP, admitted through Hello, HelloReply and UdpInfo (the pad service
// takes datagrams only from the hosts of admitted clients), or invalidSocket.
net::SocketHandle admitPadClient(std::uint16_t port, const char* from = "127.0.0.1");

}  // namespace pellvane::bench
