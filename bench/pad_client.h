// The client side of a benchmark: a loopback connection, whole messages read from it, and
// a pad client admitted by a started pad service.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/sockets.h"
#include "server/wire_protocol.h"

namespace pellvane::bench {

// A stream connected to the loopback port, or invalidSocket.
net::SocketHandle connectLoopback(std::uint16_t port);
// One whole message, or nothing when it is malformed or a part takes longer than
// `timeoutMs` to come.
std::optional<Message> receiveMessage(net::SocketHandle socket, int timeoutMs);
// A pad client over TCP, admitted through Hello, HelloReply and UdpInfo (the pad service
// takes datagrams only from the hosts of admitted clients), or invalidSocket.
net::SocketHandle admitPadClient(std::uint16_t port);

}  // namespace pellvane::bench
