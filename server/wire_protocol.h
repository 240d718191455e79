// The message protocol of both services: constants, layouts, builders and checks.
// Every integer on the wire is little-endian (the UdpInfo ports excepted, which are in
// network order); fields are read and written one by one, never by casting a buffer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace pellvane {

// A whole message as it travels: header and body, packetSize bytes.
using Message = std::vector<std::uint8_t>;

namespace wire {

inline constexpr std::uint32_t headerSize = 12;
// packetSize is carried in 32 bits but a message never exceeds what a datagram holds.
inline constexpr std::uint32_t MAXUINT16 = 65535;
inline constexpr std::size_t nameFieldSize = 128;
inline constexpr std::size_t appNameRecordSize = 132;
// 144 + 132 * 248 = 32880 bytes keeps a HelloReply well inside one TCP burst.
inline constexpr std::size_t appListLimit = 248;

inline constexpr std::uint32_t Hello = 1;
inline constexpr std::uint32_t HelloReply = 2;
inline constexpr std::uint32_t Refusal = 3;
inline constexpr std::uint32_t AppName = 4;
inline constexpr std::uint32_t KeyDown = 5;
inline constexpr std::uint32_t KeyUp = 6;
inline constexpr std::uint32_t ChannelEvent = 7;
inline constexpr std::uint32_t GamepadEvent = 8;
inline constexpr std::uint32_t UdpInfo = 9;

// The argument a Hello must carry: the length of its deviceName field.
inline constexpr std::uint32_t helloArgument = 128;
inline constexpr std::size_t helloSize = 140;
inline constexpr std::size_t helloReplyBaseSize = 144;
inline constexpr std::size_t refusalSize = 144;
inline constexpr std::size_t appNameSize = 144;
inline constexpr std::size_t udpInfoSize = 56;
// Address family numbers as they stand in UdpInfo, whatever the receiving platform uses.
inline constexpr std::uint16_t udpInfoFamily4 = 2;
inline constexpr std::uint16_t udpInfoFamily6 = 23;

std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t offset);
std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset);
float readF32(std::span<const std::uint8_t> bytes, std::size_t offset);
void writeU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value);
void writeU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value);
void writeF32(std::span<std::uint8_t> bytes, std::size_t offset, float value);

struct MessageHeader {
    std::uint32_t packetSize = 0;
    std::uint32_t type = 0;
    std::uint32_t argument = 0;
};

// Reads the first 12 bytes; nothing when fewer are present.
std::optional<MessageHeader> readHeader(std::span<const std::uint8_t> bytes);
void writeHeader(std::span<std::uint8_t> bytes, const MessageHeader& header);

// A TCP header is usable when its packetSize lies within 12 to 65535.
bool isValidPacketSize(std::uint32_t packetSize);
// A datagram is one message: at least a header, and exactly packetSize bytes long.
bool isAcceptableDatagram(std::span<const std::uint8_t> datagram);

struct AppNameRecord {
    std::array<char, nameFieldSize> name{};
    std::uint32_t processId = 0;

    // The name up to its NUL, never beyond the 128-byte field.
    std::string_view nameView() const;
    void setName(std::string_view text);
    friend bool operator==(const AppNameRecord&, const AppNameRecord&) = default;
};

AppNameRecord readAppNameRecord(std::span<const std::uint8_t> bytes, std::size_t offset);
void writeAppNameRecord(std::span<std::uint8_t> bytes, std::size_t offset,
                        const AppNameRecord& record);

// The running applications that a pad service's delegate hands to the server.
struct AppList {
    std::vector<AppNameRecord> records;
};

// serverName field: the first min(length + 1, 127) bytes of the name, zero-filled, so the
// 128-byte field always ends in a NUL.
void writeServerName(std::span<std::uint8_t> field, std::string_view serviceName);

// Builders. Each result is one contiguous message whose first u32 is its own length.
// A HelloReply takes at most 248 records of the list.
Message buildHelloReply(std::string_view serviceName, const AppList* list);
Message buildRefusal(std::string_view serviceName);
Message buildUdpInfo(std::uint16_t udpPort4, std::uint16_t udpPort6);
Message buildHello(std::string_view deviceName, std::uint32_t argument = helloArgument);
Message buildAppName(const AppNameRecord& record);

// Reads a HelloReply's records (count clamped to what the message holds).
std::vector<AppNameRecord> readHelloReplyApps(std::span<const std::uint8_t> message);

}  // namespace wire
}  // namespace pellvane
