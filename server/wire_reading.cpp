#include "server/wire_reading.h"

#include <algorithm>

namespace pellvane::wire {
namespace {

// The readers below take fields one after another; these keep them in step with the layouts.
static_assert(headerLayout::type == headerLayout::packetSize + 4 &&
              headerLayout::argument == headerLayout::type + 4 &&
              headerSize == headerLayout::argument + 4);
static_assert(appNameRecordLayout::processId == appNameRecordLayout::name + nameFieldSize &&
              appNameRecordSize == appNameRecordLayout::processId + 4);
static_assert(keyEntryLayout::character == keyEntryLayout::reserved + 4 &&
              keyEntryLayout::keyIndex == keyEntryLayout::character + 4 &&
              keyEntrySize == keyEntryLayout::keyIndex + 4);
static_assert(gamepadEventLayout::pairCount == gamepadEventLayout::kind + 4 &&
              gamepadEventLayout::firstPair == gamepadEventLayout::pairCount + 4);
static_assert(gamepadPairLayout::value == gamepadPairLayout::id + 4 &&
              gamepadPairSize == gamepadPairLayout::value + 4);
static_assert(udpInfoLayout::port6 == udpInfoLayout::family6 + 2);

bool readKeyEntry(Reader& reader, KeyEntry& entry) {
    return reader.u32(entry.reserved) && reader.u32(entry.character) && reader.u32(entry.keyIndex);
}

bool readPair(Reader& reader, GamepadPair& pair) {
    return reader.u32(pair.id) && reader.f32(pair.value);
}

}  // namespace

std::optional<MessageHeader> readHeader(std::span<const std::uint8_t> bytes) {
    Reader reader(bytes, headerLayout::packetSize);
    MessageHeader header;
    if (!reader.u32(header.packetSize) || !reader.u32(header.type) ||
        !reader.u32(header.argument)) {
        return std::nullopt;
    }
    return header;
}

bool isValidPacketSize(std::uint32_t packetSize) {
    return packetSize >= headerSize && packetSize <= MAXUINT16;
}

bool isAcceptableDatagram(std::span<const std::uint8_t> datagram) {
    const std::optional<MessageHeader> header = readHeader(datagram);
    return header && header->packetSize == datagram.size();
}

std::optional<ReceivedMessage> wholeMessage(std::span<const std::uint8_t> bytes) {
    const std::optional<MessageHeader> header = readHeader(bytes);
    if (!header || header->packetSize != bytes.size()) {
        return std::nullopt;
    }
    return ReceivedMessage{*header, Message(bytes.begin(), bytes.end())};
}

std::string_view readNameField(std::span<const std::uint8_t> message, std::size_t offset) {
    if (offset >= message.size()) {
        return {};
    }
    const std::span<const std::uint8_t> field =
        message.subspan(offset, std::min(nameFieldSize, message.size() - offset));
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string_view(reinterpret_cast<const char*>(field.data()),
                            static_cast<std::size_t>(end - field.begin()));
}

std::optional<AppNameRecord> readAppNameRecord(Reader& reader) {
    std::span<const std::uint8_t> name;
    AppNameRecord record;
    Reader start = reader;
    if (!reader.bytes(nameFieldSize, name) || !reader.u32(record.processId)) {
        reader = start;
        return std::nullopt;
    }
    std::copy(name.begin(), name.end(), record.name.begin());
    return record;
}

std::optional<AppNameRecord> readAppName(const ReceivedMessage& message) {
    Reader reader(message.bytes, appNameLayout::record);
    return readAppNameRecord(reader);
}

std::vector<KeyEntry> readKeyEntries(const ReceivedMessage& message) {
    Reader reader(message.bytes, keyMessageLayout::firstEntry);
    const std::size_t count =
        std::min<std::size_t>(message.header.argument, reader.remaining() / keyEntrySize);
    std::vector<KeyEntry> entries;
    entries.reserve(count);
    KeyEntry entry;
    while (entries.size() < count && readKeyEntry(reader, entry)) {
        entries.push_back(entry);
    }
    return entries;
}

std::optional<GamepadEventBody> readGamepadEvent(const ReceivedMessage& message) {
    Reader reader(message.bytes, gamepadEventLayout::kind);
    GamepadEventBody event;
    std::uint32_t pairCount = 0;
    if (!reader.u32(event.kind) || !reader.u32(pairCount) || pairCount == 0 ||
        pairCount > reader.remaining() / gamepadPairSize) {
        return std::nullopt;
    }
    event.pairs.reserve(pairCount);
    GamepadPair pair;
    while (event.pairs.size() < pairCount && readPair(reader, pair)) {
        event.pairs.push_back(pair);
    }
    return event;
}

HelloReplyContent readHelloReply(std::span<const std::uint8_t> message) {
    HelloReplyContent content;
    content.serverName = readNameField(message, helloReplyLayout::serverName);
    Reader reader(message, helloReplyLayout::appCount);
    std::uint32_t appCount = 0;
    if (!reader.u32(appCount)) {
        return content;
    }
    content.apps.reserve(std::min<std::size_t>(appCount, reader.remaining() / appNameRecordSize));
    while (content.apps.size() < appCount) {
        const std::optional<AppNameRecord> record = readAppNameRecord(reader);
        if (!record) {
            break;
        }
        content.apps.push_back(*record);
    }
    return content;
}

std::optional<UdpPorts> readUdpInfo(std::span<const std::uint8_t> message) {
    if (message.size() != udpInfoSize) {
        return std::nullopt;
    }
    UdpPorts ports;
    Reader port4(message, udpInfoLayout::port4);
    Reader port6(message, udpInfoLayout::port6);
    if (!port4.u16NetworkOrder(ports.ipv4) || !port6.u16NetworkOrder(ports.ipv6)) {
        return std::nullopt;
    }
    return ports;
}

}  // namespace pellvane::wire
