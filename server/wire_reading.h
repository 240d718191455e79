// Reading messages that came from the network. Every function reads only what lies inside
// the bytes it is given, whatever the counts and sizes inside them claim.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "server/wire_cursor.h"
#include "server/wire_protocol.h"

namespace pellvane::wire {

// The header at the start of the bytes; nothing when fewer than 12 are there.
std::optional<MessageHeader> readHeader(std::span<const std::uint8_t> bytes);
// A header on a stream is usable when its packetSize lies within 12 to 65535.
bool isValidPacketSize(std::uint32_t packetSize);
// A datagram is one message: at least a header, and exactly packetSize bytes long.
bool isAcceptableDatagram(std::span<const std::uint8_t> datagram);
// The bytes as one whole message (see isAcceptableDatagram), or nothing.
std::optional<ReceivedMessage> wholeMessage(std::span<const std::uint8_t> bytes);

// The text of a 128-byte name field at `offset`: up to its NUL, and never past the field or
// the message, so a field without a NUL reads as 128 characters and a cut one as what is there.
std::string_view readNameField(std::span<const std::uint8_t> message, std::size_t offset);

std::optional<AppNameRecord> readAppNameRecord(Reader& reader);
// The record of an AppName; nothing when the body is shorter than one record.
std::optional<AppNameRecord> readAppName(const ReceivedMessage& message);

// The entries of a KeyDown or KeyUp that its argument counts and that lie wholly inside it: a
// count that claims more than the message holds yields the entries present.
std::vector<KeyEntry> readKeyEntries(const ReceivedMessage& message);

// A GamepadEvent's kind and pairs; nothing when pairCount is 0 or its pairs do not all lie
// inside the message (a half-read axis group would move some axes of a gesture and not others).
std::optional<GamepadEventBody> readGamepadEvent(const ReceivedMessage& message);

// What a client learns from a HelloReply or Refusal: the server's name and its records, as
// far as the message holds them (appCount is clamped to the whole records present).
struct HelloReplyContent {
    std::string_view serverName;  // points into the message
    std::vector<AppNameRecord> apps;
};
HelloReplyContent readHelloReply(std::span<const std::uint8_t> message);

// The two ports of a UdpInfo; nothing unless the message is exactly one UdpInfo long.
std::optional<UdpPorts> readUdpInfo(std::span<const std::uint8_t> message);

}  // namespace pellvane::wire
