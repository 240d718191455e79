#include "tools/message_report.h"

#include <gtest/gtest.h>

namespace pellvane::tool {
namespace {

wire::AppNameRecord named(std::string_view name, std::uint32_t processId) {
    wire::AppNameRecord record;
    record.setName(name);
    record.processId = processId;
    return record;
}

TEST(MessageReport, HelloReplyListsEveryApplication) {
    wire::AppList list;
    list.records = {named("notepad", 12), named("calc", 34)};
    EXPECT_EQ(
        describeHelloReply(wire::buildHelloReply("Desk", &list)),
        "admitted by \"Desk\", 2 applications\n  notepad (process 12)\n  calc (process 34)\n");
    EXPECT_EQ(describeHelloReply(wire::buildHelloReply("Desk", nullptr)),
              "admitted by \"Desk\", 0 applications\n");
}

TEST(MessageReport, NamesFromTheNetworkCannotForgeLinesOrTerminalSequences) {
    EXPECT_EQ(printableText("a\nb\x1b[2Jc\x7f\xC3\xA9"), "a\\x0ab\\x1b[2Jc\\x7f\xC3\xA9");
    wire::AppList list;
    list.records = {named("evil\nadmitted by \"x\"", 1)};
    const std::string text = describeHelloReply(wire::buildHelloReply("Desk\r", &list));
    EXPECT_EQ(text,
              "admitted by \"Desk\\x0d\", 1 application\n"
              "  evil\\x0aadmitted by \"x\" (process 1)\n");
    EXPECT_EQ(describeMessage(wire::buildAppName(named("\x1b]0;title\x07", 5))),
              "application in front: \\x1b]0;title\\x07 (process 5)\n");
}

TEST(MessageReport, UdpInfoPortsAndOtherMessages) {
    const Message info = wire::buildUdpInfo(0x1234, 0xABCD);
    const UdpPorts ports = udpPortsOf(info);
    EXPECT_EQ(ports.ipv4, 0x1234);
    EXPECT_EQ(ports.ipv6, 0xABCD);
    EXPECT_EQ(describeMessage(info), "udp ports: ipv4 4660, ipv6 43981\n");
    Message event(12 + 70, 0xAB);
    wire::writeHeader(event, {82, wire::ChannelEvent, 70});
    const std::string line = describeMessage(event);
    EXPECT_EQ(line.rfind("channel event, 70 bytes: ab ab", 0), 0u);
    EXPECT_NE(line.find(" ...\n"), std::string::npos);  // long bodies are cut
    Message other(12, 0);
    wire::writeHeader(other, {12, 77, 0});
    EXPECT_EQ(describeMessage(other), "message type 77, 12 bytes\n");
}

}  // namespace
}  // namespace pellvane::tool
