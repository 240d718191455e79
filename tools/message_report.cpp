#include "tools/message_report.h"

#include <cstdio>

namespace pellvane::tool {
namespace {

constexpr std::size_t serverNameOffset = 12;
constexpr std::size_t channelBytesShown = 64;

std::uint16_t fromNetworkOrder(std::uint16_t wirePort) {
    return static_cast<std::uint16_t>((wirePort >> 8) | (wirePort << 8));
}

std::string appLine(const wire::AppNameRecord& record) {
    return printableText(record.nameView()) + " (process " + std::to_string(record.processId) + ")";
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

std::string serverNameOf(const Message& reply) {
    // The name field lies at 12..139; nameView stops at its end when a server left no NUL.
    return printableText(wire::readAppNameRecord(reply, serverNameOffset).nameView());
}

std::string describeHelloReply(const Message& reply) {
    const auto apps = wire::readHelloReplyApps(reply);
    std::string text = "admitted by \"" + serverNameOf(reply) + "\", " +
                       std::to_string(apps.size()) + " application" +
                       (apps.size() == 1 ? "" : "s") + "\n";
    for (const auto& app : apps) {
        text += "  " + appLine(app) + "\n";
    }
    return text;
}

UdpPorts udpPortsOf(const Message& udpInfo) {
    return {fromNetworkOrder(wire::readU16(udpInfo, 14)),
            fromNetworkOrder(wire::readU16(udpInfo, 30))};
}

std::string describeMessage(const Message& message) {
    const auto header = wire::readHeader(message);
    if (!header) {
        return "short message\n";
    }
    const std::span<const std::uint8_t> body =
        std::span(message).subspan(std::min<std::size_t>(wire::headerSize, message.size()));
    switch (header->type) {
        case wire::UdpInfo: {
            const UdpPorts ports = udpPortsOf(message);
            return "udp ports: ipv4 " + std::to_string(ports.ipv4) + ", ipv6 " +
                   std::to_string(ports.ipv6) + "\n";
        }
        case wire::AppName:
            return "application in front: " + appLine(wire::readAppNameRecord(message, 12)) + "\n";
        case wire::ChannelEvent:
            return "channel event, " + std::to_string(body.size()) + " bytes: " + hexBytes(body) +
                   "\n";
        default:
            return "message type " + std::to_string(header->type) + ", " +
                   std::to_string(message.size()) + " bytes\n";
    }
}

}  // namespace pellvane::tool
