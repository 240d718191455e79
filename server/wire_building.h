// Building messages. Each result is one contiguous message whose packetSize is its own
// length, ready to be sent in one piece.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "server/wire_protocol.h"

namespace pellvane::wire {

void writeHeader(std::span<std::uint8_t> bytes, const MessageHeader& header);

// A message of `type` carrying `body` as it is.
Message buildMessage(std::uint32_t type, std::uint32_t argument,
                     std::span<const std::uint8_t> body = {});

Message buildHello(std::string_view deviceName, std::uint32_t argument = helloArgument);
// Lists at most 248 records of `list` (null lists none). The serverName field holds the
// first min(length + 1, 127) bytes of the name, so it always ends in a NUL.
Message buildHelloReply(std::string_view serviceName, const AppList* list);
Message buildRefusal(std::string_view serviceName);
// Ports in host order.
Message buildUdpInfo(std::uint16_t udpPort4, std::uint16_t udpPort6);
Message buildAppName(const AppNameRecord& record);
// KeyDown or KeyUp; the argument counts the entries.
Message buildKeyMessage(std::uint32_t type, std::span<const KeyEntry> entries);
// gamepadAxes or gamepadButton with its pairs; pairCount counts them.
Message buildGamepadEvent(std::uint32_t kind, std::span<const GamepadPair> pairs);
// The argument carries the body length.
Message buildChannelEvent(std::span<const std::uint8_t> body);

}  // namespace pellvane::wire
