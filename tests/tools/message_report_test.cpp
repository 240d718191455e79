#include "tools/message_report.h"

#include <gtest/gtest.h>

#include "server/wire_building.h"
#include "tests/support/test_client.h"

namespace pellvane::tool {
namespace {

using testing::makeMessage;
using testing::named;
using testing::received;

TEST(MessageReport, HelloReplyListsEveryApplication) {
    wire::AppList list;
    list.records = {named("notepad", 12), named("calc", 34)};
    EXPECT_EQ(
        describeHelloReply(received(wire::buildHelloReply("Desk", &list))),
        "admitted by \"Desk\", 2 applications\n  notepad (process 12)\n  calc (process 34)\n");
    EXPECT_EQ(describeHelloReply(received(wire::buildHelloReply("Desk", nullptr))),
              "admitted by \"Desk\", 0 applications\n");
}

TEST(MessageReport, NamesFromTheNetworkCannotForgeLinesOrTerminalSequences) {
    EXPECT_EQ(printableText("a\nb\x1b[2Jc\x7f\xC3\xA9"), "a\\x0ab\\x1b[2Jc\\x7f\xC3\xA9");
    wire::AppList list;
    list.records = {named("evil\nadmitted by \"x\"", 1)};
    const std::string text = describeHelloReply(received(wire::buildHelloReply("Desk\r", &list)));
    EXPECT_EQ(text,
              "admitted by \"Desk\\x0d\", 1 application\n"
              "  evil\\x0aadmitted by \"x\" (process 1)\n");
    EXPECT_EQ(describeMessage(received(wire::buildAppName(named("\x1b]0;title\x07", 5)))),
              "application in front: \\x1b]0;title\\x07 (process 5)\n");
}

TEST(MessageReport, UdpInfoPortsAndOtherMessages) {
    EXPECT_EQ(describeMessage(received(wire::buildUdpInfo(0x1234, 0xABCD))),
              "udp ports: ipv4 4660, ipv6 43981\n");
    const std::string line =
        describeMessage(received(makeMessage(wire::ChannelEvent, 70, 70, 0xAB)));
    EXPECT_EQ(line.rfind("channel event, 70 bytes: ab ab", 0), 0u);
    EXPECT_NE(line.find(" ...\n"), std::string::npos);  // long bodies are cut
    EXPECT_EQ(describeMessage(received(makeMessage(77, 0, 0))), "message type 77, 12 bytes\n");
    // A UdpInfo or AppName too short to hold its fields is described as what it is.
    EXPECT_EQ(describeMessage(received(makeMessage(wire::UdpInfo, 44, 20))),
              "message type 9, 32 bytes\n");
    EXPECT_EQ(describeMessage(received(makeMessage(wire::AppName, 132, 100))),
              "message type 4, 112 bytes\n");
}

}  // namespace
}  // namespace pellvane::tool
