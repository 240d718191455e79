// Human-readable lines for the messages a server sends to a client.
#pragma once

#include <string>
#include <string_view>

#include "platform/printable_text.h"  // names from the network are shown through it
#include "server/wire_protocol.h"

namespace pellvane::tool {

// The server's name from a HelloReply or Refusal.
std::string serverNameOf(const ReceivedMessage& reply);
// The lines printed for a HelloReply: who admitted us and its application list.
std::string describeHelloReply(const ReceivedMessage& reply);
// One line each for UdpInfo, AppName, ChannelEvent and anything else.
std::string describeMessage(const ReceivedMessage& message);

}  // namespace pellvane::tool
