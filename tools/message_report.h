// Human-readable lines for the messages a server sends to a client.
#pragma once

#include <string>
#include <string_view>

#include "platform/printable_text.h"  // names from the network are shown through it
#include "server/wire_protocol.h"

namespace pellvane::tool {

// The server's name from a HelloReply or Refusal.
std::string serverNameOf(const Message& reply);
// The lines printed for a HelloReply: who admitted us and its application list.
std::string describeHelloReply(const Message& reply);
// One line each for UdpInfo, AppName, ChannelEvent and anything else.
std::string describeMessage(const Message& message);

// The two ports a UdpInfo announces, in host order.
struct UdpPorts {
    std::uint16_t ipv4 = 0;
    std::uint16_t ipv6 = 0;
};
UdpPorts udpPortsOf(const Message& udpInfo);

}  // namespace pellvane::tool
