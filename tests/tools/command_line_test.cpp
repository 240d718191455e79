#include "tools/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace pellvane::tool {
namespace {

ParsedCommandLine parse(std::vector<std::string> args) {
    return parseCommandLine(args);
}

TEST(CommandLine, RejectsBadArgumentsWithOneLineEach) {
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"jump"},
        {"connect", "host"},
        {"connect", "host", "0"},
        {"connect", "host", "65536"},
        {"connect", "host", "80x"},
        {"connect", "host", "80", "extra"},
        {"connect", "host", "80", "--udp"},
        {"type", "host", "80"},
        {"type", "host", "80", "text", "--key", "4"},
        {"type", "host", "80", "--key", "263"},
        {"type", "host", "80", "--key", "-1"},
        {"type", "host", "80", "--key"},
        {"type", "host", "80", "\xC3\x28"},      // broken UTF-8
        {"type", "host", "80", "\xED\xA0\x80"},  // an encoded surrogate
        {"type", "host", "80", "\xC0\xAF"},      // overlong
        {"type", "host", "80", "--name", "", "hi"},
        {"type", "host", "80", "--name", std::string(128, 'n'), "hi"},
        {"want", "host", "80", std::string(128, 'a')},
        {"pad", "host", "80"},
        {"pad", "host", "80", "--axis", "14=0.5"},
        {"pad", "host", "80", "--axis", "1=nan"},
        {"pad", "host", "80", "--axis", "1=inf"},
        {"pad", "host", "80", "--axis", "1"},
        {"pad", "host", "80", "--button", "20=1"},
        {"pad", "host", "80", "--button", "3=2"},
        {"channel", "host", "80"},
        {"channel", "host", "80", "--hex", "abc"},
        {"channel", "host", "80", "--hex", "zz"},
        {"channel", "host", "80", "--hex", "0 1"},
        {"channel", "host", "80", "--hex", std::string(2 * 65524, 'a')},
        {"browse", "--wait", "-5"},
        {"browse", "extra"},
    };
    for (const auto& args : bad) {
        const ParsedCommandLine parsed = parse(args);
        std::string joined;
        for (const auto& arg : args)
            joined += arg.substr(0, 20) + " ";
        EXPECT_FALSE(parsed.ok) << joined;
        EXPECT_FALSE(parsed.error.empty()) << joined;
        EXPECT_EQ(parsed.error.find('\n'), std::string::npos) << joined;
    }
}

TEST(CommandLine, TypeTakesTextOrAChordOfKeys) {
    auto parsed = parse({"type", "pc.local", "5000", "--name=Tablet", "--udp", "Hi there"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.command.kind, CommandKind::type);
    EXPECT_EQ(parsed.command.host, "pc.local");
    EXPECT_EQ(parsed.command.port, 5000);
    EXPECT_EQ(parsed.command.deviceName, "Tablet");
    EXPECT_TRUE(parsed.command.udp);
    EXPECT_EQ(parsed.command.text, "Hi there");

    parsed = parse({"type", "::1", "5000", "--key", "56", "--key", "0"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.command.keys, (std::vector<std::uint32_t>{56, 0}));
    EXPECT_TRUE(parsed.command.text.empty());
    EXPECT_EQ(parsed.command.deviceName, "pellvane-pad");
}

TEST(CommandLine, PadCollectsAxesAndButtonsInOrder) {
    const auto parsed = parse({"pad", "h", "1", "--axis", "0=1.0", "--button", "19=1",
                               "--axis=3=-0.25", "--button", "0=0"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    ASSERT_EQ(parsed.command.axes.size(), 2u);
    EXPECT_EQ(parsed.command.axes[1].id, 3u);
    EXPECT_FLOAT_EQ(parsed.command.axes[1].value, -0.25f);
    ASSERT_EQ(parsed.command.buttons.size(), 2u);
    EXPECT_EQ(parsed.command.buttons[0].button, 19u);
    EXPECT_TRUE(parsed.command.buttons[0].pressed);
    EXPECT_FALSE(parsed.command.buttons[1].pressed);
}

TEST(CommandLine, ChannelHexAcceptsSeparatorsAndNothing) {
    auto parsed = parse({"channel", "h", "1", "--hex", "01:A0 ff-7e"});
    ASSERT_TRUE(parsed.ok) << parsed.error;
    EXPECT_EQ(parsed.command.channelBytes, (std::vector<std::uint8_t>{0x01, 0xA0, 0xFF, 0x7E}));
    parsed = parse({"channel", "h", "1", "--hex", ""});
    ASSERT_TRUE(parsed.ok) << parsed.error;  // an empty event is still an event
    EXPECT_TRUE(parsed.command.channelBytes.empty());
}

TEST(CommandLine, HelpAnywhere) {
    EXPECT_EQ(parse({"--help"}).command.kind, CommandKind::help);
    const auto parsed = parse({"pad", "--help"});
    EXPECT_TRUE(parsed.ok);
    EXPECT_EQ(parsed.command.kind, CommandKind::help);
}

}  // namespace
}  // namespace pellvane::tool
