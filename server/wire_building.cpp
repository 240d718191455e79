#include "server/wire_building.h"

#include <algorithm>

#include "server/wire_cursor.h"

namespace pellvane::wire {
namespace {

// A zeroed message of `size` bytes with its header written.
Message zeroedMessage(std::uint32_t type, std::uint32_t argument, std::size_t size) {
    Message message(size, 0);
    writeHeader(message, {static_cast<std::uint32_t>(size), type, argument});
    return message;
}

std::uint32_t bodyLength(std::size_t messageSize) {
    return static_cast<std::uint32_t>(messageSize - headerSize);
}

// The first `limit` bytes of the text at most.
std::span<const std::uint8_t> textBytes(std::string_view text, std::size_t limit) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), std::min(text.size(), limit)};
}

void writeAppNameRecord(Writer& writer, const AppNameRecord& record) {
    writer.bytes(textBytes(std::string_view(record.name.data(), nameFieldSize), nameFieldSize));
    writer.u32(record.processId);
}

// The serverName rule: the field is zero, then takes the first min(length + 1, 127) bytes of
// the name, so byte 127 always stays zero.
void writeServerName(Message& message, std::string_view serviceName) {
    Writer(message, helloReplyLayout::serverName).bytes(textBytes(serviceName, nameFieldSize - 1));
}

}  // namespace

void writeHeader(std::span<std::uint8_t> bytes, const MessageHeader& header) {
    Writer writer(bytes, headerLayout::packetSize);
    writer.u32(header.packetSize);
    writer.u32(header.type);
    writer.u32(header.argument);
}

Message buildMessage(std::uint32_t type, std::uint32_t argument,
                     std::span<const std::uint8_t> body) {
    Message message = zeroedMessage(type, argument, headerSize + body.size());
    Writer(message, headerSize).bytes(body);
    return message;
}

Message buildHello(std::string_view deviceName, std::uint32_t argument) {
    Message message = zeroedMessage(Hello, argument, helloSize);
    Writer(message, helloLayout::deviceName).bytes(textBytes(deviceName, nameFieldSize));
    return message;
}

Message buildHelloReply(std::string_view serviceName, const AppList* list) {
    const std::size_t count = list == nullptr ? 0 : std::min(list->records.size(), appListLimit);
    const std::size_t size = helloReplyBaseSize + appNameRecordSize * count;
    Message message = zeroedMessage(HelloReply, bodyLength(size), size);
    writeServerName(message, serviceName);
    Writer writer(message, helloReplyLayout::appCount);
    writer.u32(static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        writeAppNameRecord(writer, list->records[i]);
    }
    return message;
}

Message buildRefusal(std::string_view serviceName) {
    Message message = zeroedMessage(Refusal, bodyLength(refusalSize), refusalSize);
    writeServerName(message, serviceName);
    return message;
}

Message buildUdpInfo(std::uint16_t udpPort4, std::uint16_t udpPort6) {
    Message message = zeroedMessage(UdpInfo, bodyLength(udpInfoSize), udpInfoSize);
    Writer address4(message, udpInfoLayout::family4);
    address4.u16(udpInfoFamily4);
    address4.u16NetworkOrder(udpPort4);
    Writer address6(message, udpInfoLayout::family6);
    address6.u16(udpInfoFamily6);
    address6.u16NetworkOrder(udpPort6);
    return message;
}

Message buildAppName(const AppNameRecord& record) {
    Message message = zeroedMessage(AppName, bodyLength(appNameSize), appNameSize);
    Writer writer(message, appNameLayout::record);
    writeAppNameRecord(writer, record);
    return message;
}

Message buildKeyMessage(std::uint32_t type, std::span<const KeyEntry> entries) {
    Message message = zeroedMessage(type, static_cast<std::uint32_t>(entries.size()),
                                    keyMessageLayout::firstEntry + keyEntrySize * entries.size());
    Writer writer(message, keyMessageLayout::firstEntry);
    for (const KeyEntry& entry : entries) {
        writer.u32(entry.reserved);
        writer.u32(entry.character);
        writer.u32(entry.keyIndex);
    }
    return message;
}

Message buildGamepadEvent(std::uint32_t kind, std::span<const GamepadPair> pairs) {
    const std::size_t size = gamepadEventLayout::firstPair + gamepadPairSize * pairs.size();
    Message message = zeroedMessage(GamepadEvent, bodyLength(size), size);
    Writer writer(message, gamepadEventLayout::kind);
    writer.u32(kind);
    writer.u32(static_cast<std::uint32_t>(pairs.size()));
    for (const GamepadPair& pair : pairs) {
        writer.u32(pair.id);
        writer.f32(pair.value);
    }
    return message;
}

Message buildChannelEvent(std::span<const std::uint8_t> body) {
    return buildMessage(ChannelEvent, static_cast<std::uint32_t>(body.size()), body);
}

}  // namespace pellvane::wire
