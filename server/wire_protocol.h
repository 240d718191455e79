// The message protocol of both services, in one place: the header, the nine types, every
// layout with its offsets, sizes and limits, and the byte order of each field. Reading goes
// through wire_reading.h and building through wire_building.h; nothing else knows where a
// field lies.
//
// Every integer on the wire is little-endian (LE) but the two ports of UdpInfo, which are in
// network order (big-endian, BE). Text fields are 8-bit strings in a fixed-size field, ended
// by a NUL inside the field and zero-filled after it; a peer may leave the NUL out.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pellvane {

// A whole message as it travels: header and body, packetSize bytes.
using Message = std::vector<std::uint8_t>;

namespace wire {

// Header, the first 12 bytes of every message.
namespace headerLayout {
inline constexpr std::size_t packetSize = 0;  // u32 LE: the whole message, header included
inline constexpr std::size_t type = 4;        // u32 LE: one of the types below
inline constexpr std::size_t argument = 8;    // u32 LE: meaning depends on the type
}  // namespace headerLayout
inline constexpr std::uint32_t headerSize = 12;
// packetSize is carried in 32 bits, but no message is longer than a datagram can be.
inline constexpr std::uint32_t MAXUINT16 = 65535;

struct MessageHeader {
    std::uint32_t packetSize = 0;
    std::uint32_t type = 0;
    std::uint32_t argument = 0;
    friend bool operator==(const MessageHeader&, const MessageHeader&) = default;
};

// Types. For 1, 2, 3, 4 and 9 the header's argument is the body length.
inline constexpr std::uint32_t Hello = 1;         // client to server, the first on a connection
inline constexpr std::uint32_t HelloReply = 2;    // server to client: admitted
inline constexpr std::uint32_t Refusal = 3;       // server to client, then the server closes
inline constexpr std::uint32_t AppName = 4;       // both ways: an application's name
inline constexpr std::uint32_t KeyDown = 5;       // client to server, TCP or UDP
inline constexpr std::uint32_t KeyUp = 6;         // client to server, TCP or UDP
inline constexpr std::uint32_t ChannelEvent = 7;  // relayed by the channel service, body opaque
inline constexpr std::uint32_t GamepadEvent = 8;  // client to server, TCP or UDP
inline constexpr std::uint32_t UdpInfo = 9;       // server to client, after the HelloReply

// AppNameRecord, 132 bytes: in HelloReply, AppName and the AppList.
namespace appNameRecordLayout {
inline constexpr std::size_t name = 0;         // char[128]: the application's name
inline constexpr std::size_t processId = 128;  // u32 LE
}  // namespace appNameRecordLayout
inline constexpr std::size_t nameFieldSize = 128;
inline constexpr std::size_t appNameRecordSize = 132;

// Hello (1), 140 bytes. The argument must be 128, the length of deviceName: the pad service
// refuses any other.
namespace helloLayout {
inline constexpr std::size_t deviceName = 12;  // char[128]: shown in the admission question
}
inline constexpr std::uint32_t helloArgument = 128;
inline constexpr std::size_t helloSize = 140;

// HelloReply (2), 144 + 132·n bytes, argument 132 + 132·n.
namespace helloReplyLayout {
inline constexpr std::size_t serverName = 12;  // char[128]: at most 127 characters and a NUL
inline constexpr std::size_t appCount = 140;   // u32 LE: n
inline constexpr std::size_t apps = 144;       // AppNameRecord[n]
}  // namespace helloReplyLayout
inline constexpr std::size_t helloReplyBaseSize = 144;
// 144 + 132 · 248 = 32880 bytes: the longest reply stays well inside the largest message.
inline constexpr std::size_t appListLimit = 248;

// Refusal (3): a HelloReply without records, 144 bytes, argument 132, appCount 0.
inline constexpr std::size_t refusalSize = 144;

// AppName (4), 144 bytes, argument 132.
namespace appNameLayout {
inline constexpr std::size_t record = 12;  // AppNameRecord
}
inline constexpr std::size_t appNameSize = 144;

// KeyDown (5) and KeyUp (6): the argument counts the KeyEntry records that follow the header
// (entries, not bytes).
namespace keyMessageLayout {
inline constexpr std::size_t firstEntry = 12;
}
namespace keyEntryLayout {
inline constexpr std::size_t reserved = 0;   // u32 LE: carried, never read by the server
inline constexpr std::size_t character = 4;  // u32 LE: a UTF-16 code unit, or noCharacter
inline constexpr std::size_t keyIndex = 8;   // u32 LE: a key position, or noKeyIndex; it wins
}  // namespace keyEntryLayout
inline constexpr std::size_t keyEntrySize = 12;
inline constexpr std::uint32_t noCharacter = 0xFFFFFFFF;
inline constexpr std::uint32_t noKeyIndex = 0xFFFFFFFF;
// Key positions 0 to 262 name keys of the pad's keyboard; the server's table has one entry
// for each.
inline constexpr std::uint32_t keyIndexLimit = 263;

// ChannelEvent (7): a body that only the channel's programs and the pads understand; the
// argument is carried unread.

// GamepadEvent (8): the argument is carried unread.
namespace gamepadEventLayout {
inline constexpr std::size_t kind = 12;       // u32 LE: gamepadAxes or gamepadButton
inline constexpr std::size_t pairCount = 16;  // u32 LE: the pairs that follow
inline constexpr std::size_t firstPair = 20;  // GamepadPair[pairCount]
}  // namespace gamepadEventLayout
namespace gamepadPairLayout {
inline constexpr std::size_t id = 0;     // u32 LE: an axis id or a button index
inline constexpr std::size_t value = 4;  // f32 LE, IEEE 754 single precision
}  // namespace gamepadPairLayout
inline constexpr std::size_t gamepadPairSize = 8;
inline constexpr std::uint32_t gamepadAxes = 1;    // every pair moves an axis
inline constexpr std::uint32_t gamepadButton = 2;  // pair 0 presses (value > 0) or releases
// The controller has 14 axis ids (0 to 13) and 20 buttons (0 to 19).
inline constexpr std::uint32_t axisIdLimit = 14;
inline constexpr std::uint32_t buttonLimit = 20;

// UdpInfo (9), 56 bytes, argument 44: the server's two UDP sockets as the socket-address
// structures of Windows lie in memory, with the wildcard address; only the ports carry news.
namespace udpInfoLayout {
inline constexpr std::size_t family4 = 12;    // u16 LE: udpInfoFamily4
inline constexpr std::size_t port4 = 14;      // u16 BE: udpPort4
inline constexpr std::size_t address4 = 16;   // 4 bytes, zero; then 8 bytes of zero filler
inline constexpr std::size_t family6 = 28;    // u16 LE: udpInfoFamily6
inline constexpr std::size_t port6 = 30;      // u16 BE: udpPort6
inline constexpr std::size_t flowInfo6 = 32;  // u32, zero
inline constexpr std::size_t address6 = 36;   // 16 bytes, zero
inline constexpr std::size_t scopeId6 = 52;   // u32, zero
}  // namespace udpInfoLayout
inline constexpr std::size_t udpInfoSize = 56;
// Address families as Windows numbers them, whatever the receiving platform uses.
inline constexpr std::uint16_t udpInfoFamily4 = 2;
inline constexpr std::uint16_t udpInfoFamily6 = 23;

struct AppNameRecord {
    std::array<char, nameFieldSize> name{};
    std::uint32_t processId = 0;

    // The name up to its NUL, never beyond the 128-byte field.
    std::string_view nameView() const;
    // Keeps the field's NUL: a longer text is cut to 127 bytes.
    void setName(std::string_view text);
    friend bool operator==(const AppNameRecord&, const AppNameRecord&) = default;
};

// The running applications that a pad service's delegate hands to the server, to be listed
// in a HelloReply.
struct AppList {
    std::vector<AppNameRecord> records;
};

struct KeyEntry {
    std::uint32_t reserved = 0;
    std::uint32_t character = noCharacter;
    std::uint32_t keyIndex = noKeyIndex;
    friend bool operator==(const KeyEntry&, const KeyEntry&) = default;
};

struct GamepadPair {
    std::uint32_t id = 0;
    float value = 0.0f;
    friend bool operator==(const GamepadPair&, const GamepadPair&) = default;
};

// A GamepadEvent's body: its kind and every pair its pairCount names.
struct GamepadEventBody {
    std::uint32_t kind = 0;
    std::vector<GamepadPair> pairs;
    friend bool operator==(const GamepadEventBody&, const GamepadEventBody&) = default;
};

struct UdpPorts {
    std::uint16_t ipv4 = 0;  // host order
    std::uint16_t ipv6 = 0;
};

}  // namespace wire

// A whole message as a server hands it on, with its header decoded once, where it was taken
// from the stream or the datagram. `bytes` holds all packetSize bytes, header included.
struct ReceivedMessage {
    wire::MessageHeader header;
    Message bytes;
    friend bool operator==(const ReceivedMessage&, const ReceivedMessage&) = default;
};

}  // namespace pellvane
