#include "tools/message_report.h"

#include <cstdio>

#include "server/wire_reading.h"

namespace pellvane::tool {
namespace {

constexpr std::size_t channelBytesShown = 64;

void appendAppLine(std::string& text, const wire::AppNameRecord& record) {
    appendPrintableText(text, record.nameView());
    text += " (process ";
    text += std::to_string(record.processId);
    text += ')';
}

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    char digits[4];
    for (std::size_t i = 0; i < bytes.size() && i < channelBytesShown; ++i) {
        std::snprintf(digits, sizeof digits, i == 0 ? "%02x" : " %02x", bytes[i]);
        text += digits;
    }
    if (bytes.size() > channelBytesShown) {
        text += " ...";
    }
    return text;
}

}  // namespace

std::string serverNameOf(const ReceivedMessage& reply) {
    // nameView stops at the field's end when a server left no NUL.
    return printableText(wire::readNameField(reply.bytes, wire::helloReplyLayout::serverName));
}

std::string describeHelloReply(const ReceivedMessage& reply) {
    const wire::HelloReplyContent content = wire::readHelloReply(reply.bytes);
    const std::size_t count = content.apps.size();
    std::string text = "admitted by \"" + printableText(content.serverName) + "\", " +
                       std::to_string(count) + " application" + (count == 1 ? "" : "s") + "\n";
    text.reserve(text.size() + count * (wire::nameFieldSize + 32));  // most lines need less
    for (const auto& app : content.apps) {
        text += "  ";
        appendAppLine(text, app);
        text += '\n';
    }
    return text;
}

std::string describeMessage(const ReceivedMessage& message) {
    const std::size_t size = message.bytes.size();
    const auto body =
        std::span(message.bytes).subspan(std::min<std::size_t>(wire::headerSize, size));
    const std::string otherwise = "message type " + std::to_string(message.header.type) + ", " +
                                  std::to_string(size) + " bytes\n";
    switch (message.header.type) {
        case wire::UdpInfo:
            if (const std::optional<wire::UdpPorts> ports = wire::readUdpInfo(message.bytes)) {
                return "udp ports: ipv4 " + std::to_string(ports->ipv4) + ", ipv6 " +
                       std::to_string(ports->ipv6) + "\n";
            }
            return otherwise;
        case wire::AppName:
            if (const std::optional<wire::AppNameRecord> app = wire::readAppName(message)) {
                std::string line = "application in front: ";
                appendAppLine(line, *app);
                return line + '\n';
            }
            return otherwise;
        case wire::ChannelEvent:
            return "channel event, " + std::to_string(body.size()) + " bytes: " + hexBytes(body) +
                   "\n";
        default:
            return otherwise;
    }
}

}  // namespace pellvane::tool
