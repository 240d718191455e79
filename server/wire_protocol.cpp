#include "server/wire_protocol.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pellvane::wire {
namespace {

bool fits(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t width) {
    return offset <= bytes.size() && width <= bytes.size() - offset;
}

}  // namespace

// Out-of-range reads give 0 and out-of-range writes do nothing: callers check lengths
// first, and a slip must never touch memory outside the message.
std::uint16_t readU16(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (!fits(bytes, offset, 2)) {
        return 0;
    }
    return static_cast<std::uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

std::uint32_t readU32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    if (!fits(bytes, offset, 4)) {
        return 0;
    }
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

float readF32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return std::bit_cast<float>(readU32(bytes, offset));
}

void writeU16(std::span<std::uint8_t> bytes, std::size_t offset, std::uint16_t value) {
    if (!fits(bytes, offset, 2)) {
        return;
    }
    bytes[offset] = static_cast<std::uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void writeU32(std::span<std::uint8_t> bytes, std::size_t offset, std::uint32_t value) {
    if (!fits(bytes, offset, 4)) {
        return;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[offset + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
}

void writeF32(std::span<std::uint8_t> bytes, std::size_t offset, float value) {
    writeU32(bytes, offset, std::bit_cast<std::uint32_t>(value));
}

std::optional<MessageHeader> readHeader(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < headerSize) {
        return std::nullopt;
    }
    return MessageHeader{readU32(bytes, 0), readU32(bytes, 4), readU32(bytes, 8)};
}

void writeHeader(std::span<std::uint8_t> bytes, const MessageHeader& header) {
    writeU32(bytes, 0, header.packetSize);
    writeU32(bytes, 4, header.type);
    writeU32(bytes, 8, header.argument);
}

bool isValidPacketSize(std::uint32_t packetSize) {
    return packetSize >= headerSize && packetSize <= MAXUINT16;
}

bool isAcceptableDatagram(std::span<const std::uint8_t> datagram) {
    return datagram.size() >= headerSize && readU32(datagram, 0) == datagram.size();
}

std::string_view AppNameRecord::nameView() const {
    const auto end = std::find(name.begin(), name.end(), '\0');
    return std::string_view(name.data(), static_cast<std::size_t>(end - name.begin()));
}

void AppNameRecord::setName(std::string_view text) {
    name.fill('\0');
    std::copy_n(text.begin(), std::min(text.size(), nameFieldSize - 1), name.begin());
}

AppNameRecord readAppNameRecord(std::span<const std::uint8_t> bytes, std::size_t offset) {
    AppNameRecord record;
    if (!fits(bytes, offset, appNameRecordSize)) {
        return record;
    }
    std::memcpy(record.name.data(), bytes.data() + offset, nameFieldSize);
    record.processId = readU32(bytes, offset + nameFieldSize);
    return record;
}

void writeAppNameRecord(std::span<std::uint8_t> bytes, std::size_t offset,
                        const AppNameRecord& record) {
    if (!fits(bytes, offset, appNameRecordSize)) {
        return;
    }
    std::memcpy(bytes.data() + offset, record.name.data(), nameFieldSize);
    writeU32(bytes, offset + nameFieldSize, record.processId);
}

void writeServerName(std::span<std::uint8_t> field, std::string_view serviceName) {
    std::fill(field.begin(), field.end(), 0);
    const std::size_t copied = std::min(serviceName.size(), nameFieldSize - 1);
    std::copy_n(serviceName.begin(), std::min(copied, field.size()), field.begin());
}

Message buildHelloReply(std::string_view serviceName, const AppList* list) {
    const std::size_t count = list == nullptr ? 0 : std::min(list->records.size(), appListLimit);
    const std::size_t size = helloReplyBaseSize + appNameRecordSize * count;
    Message message(size, 0);
    writeHeader(message, {static_cast<std::uint32_t>(size), HelloReply,
                          static_cast<std::uint32_t>(size - headerSize)});
    writeServerName(std::span(message).subspan(headerSize, nameFieldSize), serviceName);
    writeU32(message, 140, static_cast<std::uint32_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        writeAppNameRecord(message, helloReplyBaseSize + appNameRecordSize * i, list->records[i]);
    }
    return message;
}

Message buildRefusal(std::string_view serviceName) {
    Message message = buildHelloReply(serviceName, nullptr);
    writeU32(message, 4, Refusal);
    return message;
}

Message buildUdpInfo(std::uint16_t udpPort4, std::uint16_t udpPort6) {
    Message message(udpInfoSize, 0);
    writeHeader(message, {static_cast<std::uint32_t>(udpInfoSize), UdpInfo,
                          static_cast<std::uint32_t>(udpInfoSize - headerSize)});
    auto networkOrder = [](std::uint16_t port) {
        return static_cast<std::uint16_t>((port >> 8) | (port << 8));
    };
    writeU16(message, 12, udpInfoFamily4);
    writeU16(message, 14, networkOrder(udpPort4));
    writeU16(message, 28, udpInfoFamily6);
    writeU16(message, 30, networkOrder(udpPort6));
    return message;
}

Message buildHello(std::string_view deviceName, std::uint32_t argument) {
    Message message(helloSize, 0);
    writeHeader(message, {static_cast<std::uint32_t>(helloSize), Hello, argument});
    std::copy_n(deviceName.begin(), std::min(deviceName.size(), nameFieldSize),
                message.begin() + headerSize);
    return message;
}

Message buildAppName(const AppNameRecord& record) {
    Message message(appNameSize, 0);
    writeHeader(message, {static_cast<std::uint32_t>(appNameSize), AppName,
                          static_cast<std::uint32_t>(appNameRecordSize)});
    writeAppNameRecord(message, headerSize, record);
    return message;
}

std::vector<AppNameRecord> readHelloReplyApps(std::span<const std::uint8_t> message) {
    std::vector<AppNameRecord> apps;
    if (message.size() < helloReplyBaseSize) {
        return apps;
    }
    const std::size_t held = (message.size() - helloReplyBaseSize) / appNameRecordSize;
    const std::size_t count = std::min<std::size_t>(readU32(message, 140), held);
    for (std::size_t i = 0; i < count; ++i) {
        apps.push_back(readAppNameRecord(message, helloReplyBaseSize + appNameRecordSize * i));
    }
    return apps;
}

}  // namespace pellvane::wire
