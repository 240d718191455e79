// The whole tool against started pad and channel services on loopback.
#include "tools/pad_tool.h"

#include <gtest/gtest.h>

#include <array>
#include <mutex>
#include <ostream>
#include <sstream>
#include <streambuf>
#include <thread>

#include "server/dnssd_binding.h"
#include "server/wire_building.h"
#include "server/zarvo_server.h"
#include "tests/support/recording_delegate.h"
#include "tests/support/stand_in_system_dnssd.h"
#include "tests/support/test_client.h"

namespace pellvane::tool {
namespace {

using pellvane::testing::named;
using pellvane::testing::RecordingDelegate;
using namespace std::chrono_literals;

// Output that a test may read while the tool is still writing it on another thread.
class SharedOutput : public std::streambuf {
  public:
    std::string text() const {
        std::lock_guard guard(mutex_);
        return text_;
    }

  protected:
    int_type overflow(int_type c) override {
        if (c != traits_type::eof()) {
            std::lock_guard guard(mutex_);
            text_.push_back(static_cast<char>(c));
        }
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard guard(mutex_);
        text_.append(s, static_cast<std::size_t>(n));
        return n;
    }

  private:
    mutable std::mutex mutex_;  // guards text_
    std::string text_;
};

struct ToolRun {
    int code = -1;
    std::string out;
    std::string err;
};

class PadToolTest : public ::testing::Test {
  protected:
    void SetUp() override {
        net::startSocketLibrary();
        dnssd::loadLibrary(PELLVANE_FAKE_DNSSD);
    }

    void TearDown() override {
        for (auto* server : {pad.get(), channel.get()}) {
            if (server != nullptr) {
                server->shutDown();
            }
        }
        dnssd::unloadLibrary();
        net::stopSocketLibrary();
    }

    void startPad() {
        pad = std::make_unique<ZarvoServer>("TestHost", "_kesp._tcp", "");
        pad->setDelegate(&padDelegate);
        ASSERT_NE(pad->start(), ZarvoServer::startFailed);
        ASSERT_TRUE(padDelegate.waitFor("publish"));
    }

    void startChannel() {
        channel = std::make_unique<ZarvoServer>("TestHost", "_kespchan._tcp", "local.");
        channel->setAutoAdmit(true);
        channel->setDelegate(&channelDelegate);
        ASSERT_NE(channel->start(), ZarvoServer::startFailed);
        ASSERT_TRUE(channelDelegate.waitFor("publish"));
    }

    ToolRun run(std::vector<std::string> args) {
        std::ostringstream out;
        std::ostringstream err;
        ToolRun result;
        result.code = runPadTool(args, out, err, stop);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    // The command, then the pad service's address and port, then the rest.
    std::vector<std::string> toPad(std::string command, std::vector<std::string> rest,
                                   std::string host = "127.0.0.1") {
        std::vector<std::string> args = {command, host, std::to_string(pad->tcpPort())};
        args.insert(args.end(), rest.begin(), rest.end());
        return args;
    }

    // The bytes of every message the pad service handed on.
    std::vector<Message> padMessages() const {
        std::vector<Message> messages;
        for (const ReceivedMessage& message : padDelegate.messages()) {
            messages.push_back(message.bytes);
        }
        return messages;
    }

    static Message keys(std::uint32_t type, const std::vector<wire::KeyEntry>& entries) {
        return wire::buildKeyMessage(type, entries);
    }
    static Message gamepad(std::uint32_t kind, const std::vector<wire::GamepadPair>& pairs) {
        return wire::buildGamepadEvent(kind, pairs);
    }

    StopSignal stop;
    RecordingDelegate padDelegate;
    RecordingDelegate channelDelegate;
    std::unique_ptr<ZarvoServer> pad;
    std::unique_ptr<ZarvoServer> channel;
};

TEST_F(PadToolTest, TypeSendsEachCharacterDownThenUp) {
    startPad();
    const ToolRun result = run(toPad("type", {"--name", "Tablet", "H\xC3\xA9\xF0\x9F\x98\x80"}));
    ASSERT_EQ(result.code, exitDone) << result.err;
    ASSERT_TRUE(padDelegate.waitFor("message:6", 3));
    std::vector<Message> expected;
    for (const std::vector<wire::KeyEntry>& character :
         {std::vector<wire::KeyEntry>{{.character = 'H'}},
          {{.character = 0xE9}},
          {{.character = 0xD83D}, {.character = 0xDE00}}}) {
        expected.push_back(keys(wire::KeyDown, character));
        expected.push_back(keys(wire::KeyUp, character));
    }
    EXPECT_EQ(padMessages(), expected);
}

TEST_F(PadToolTest, KeysOverUdpArePressedInOrderAndReleasedInReverse) {
    startPad();
    const ToolRun result = run(toPad("type", {"--udp", "--key", "56", "--key", "0"}, "::1"));
    ASSERT_EQ(result.code, exitDone) << result.err;
    ASSERT_TRUE(padDelegate.waitFor("message:6"));
    EXPECT_EQ(padMessages(), (std::vector{keys(wire::KeyDown, {{.keyIndex = 56}, {.keyIndex = 0}}),
                                          keys(wire::KeyUp, {{.keyIndex = 0}, {.keyIndex = 56}})}));
}

TEST_F(PadToolTest, PadSendsAxesInOneEventThenEachButton) {
    startPad();
    const ToolRun result = run(
        toPad("pad", {"--axis", "0=1.0", "--button", "19=1", "--axis", "3=0.5", "--button=2=0"}));
    ASSERT_EQ(result.code, exitDone) << result.err;
    ASSERT_TRUE(padDelegate.waitFor("message:8", 3));
    EXPECT_EQ(padMessages(), (std::vector{gamepad(wire::gamepadAxes, {{0, 1.0f}, {3, 0.5f}}),
                                          gamepad(wire::gamepadButton, {{19, 1.0f}}),
                                          gamepad(wire::gamepadButton, {{2, 0.0f}})}));
}

TEST_F(PadToolTest, PadOverUdpReachesTheServer) {
    startPad();
    const ToolRun result = run(toPad("pad", {"--udp", "--hold", "500", "--button", "7=1"}));
    ASSERT_EQ(result.code, exitDone) << result.err;
    ASSERT_TRUE(padDelegate.waitFor("message:8"));
    EXPECT_EQ(padMessages(), std::vector<Message>{gamepad(wire::gamepadButton, {{7, 1.0f}})});
}

TEST_F(PadToolTest, WantNamesTheApplication) {
    startPad();
    const ToolRun result = run(toPad("want", {"<generic>"}));
    ASSERT_EQ(result.code, exitDone) << result.err;
    ASSERT_TRUE(padDelegate.waitFor("message:4"));
    EXPECT_EQ(padMessages(), std::vector<Message>{wire::buildAppName(named("<generic>", 0))});
}

TEST_F(PadToolTest, ChannelEventIsAdmittedAndHandedOn) {
    startChannel();
    const ToolRun result =
        run({"channel", "127.0.0.1", std::to_string(channel->tcpPort()), "--hex", "01 02 ff"});
    ASSERT_EQ(result.code, exitDone) << result.err;
    ASSERT_TRUE(channelDelegate.waitFor("message:7"));
    EXPECT_EQ(channelDelegate.messages()[0].bytes,
              (Message{15, 0, 0, 0, 7, 0, 0, 0, 3, 0, 0, 0, 1, 2, 0xFF}));
}

TEST_F(PadToolTest, ChannelEventToAPadServiceIsClosedAndSaysSo) {
    startPad();
    const ToolRun result = run(toPad("channel", {"--hex", "00"}));
    EXPECT_EQ(result.code, exitConnectionClosed);
    EXPECT_NE(result.err.find("(is it a channel service?)"), std::string::npos) << result.err;
    EXPECT_EQ(padDelegate.count("message:7"), 0);
}

TEST_F(PadToolTest, ConnectReportsListPortsAndApplicationsUntilStopped) {
    startPad();
    padDelegate.setApplications({named("notepad", 42)});

    SharedOutput output;
    std::ostream out(&output);
    std::ostringstream err;
    int code = -1;
    std::thread tool([&] {
        const std::vector<std::string> args = toPad("connect", {"--name", "Phone"});
        code = runPadTool(args, out, err, stop);
    });
    const auto shows = [&](const std::string& text) {
        for (int i = 0; i < 300; ++i) {
            if (output.text().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    };
    EXPECT_TRUE(shows("udp ports: ipv4 " + std::to_string(pad->udpPort4())));
    pad->broadcast(wire::buildAppName(named("calc", 7)));
    EXPECT_TRUE(shows("application in front: calc (process 7)\n"));
    stop.request();
    tool.join();
    EXPECT_EQ(code, exitDone) << err.str();
    EXPECT_EQ(
        output.text().rfind("admitted by \"TestHost\", 1 application\n  notepad (process 42)\n", 0),
        0u)
        << output.text();
}

TEST_F(PadToolTest, ConnectEndsWithAnErrorWhenTheServerGoesAway) {
    startPad();
    std::ostringstream out;
    std::ostringstream err;
    int code = -1;
    std::thread tool([&] {
        const std::vector<std::string> args = toPad("connect", {});
        code = runPadTool(args, out, err, stop);
    });
    ASSERT_TRUE(padDelegate.waitFor("admit"));
    pad->shutDown();
    tool.join();
    EXPECT_EQ(code, exitConnectionClosed);
    EXPECT_NE(err.str().find("connection closed"), std::string::npos) << err.str();
}

TEST_F(PadToolTest, RefusedAndUnreachableServersGiveTheirOwnExitCodes) {
    startPad();
    padDelegate.setAdmitAnswer(0);
    ToolRun result = run(toPad("type", {"x"}));
    EXPECT_EQ(result.code, exitRefused);
    EXPECT_EQ(result.err, "pellvane-pad: refused by the server \"TestHost\"\n");
    EXPECT_EQ(padDelegate.count("message:5"), 0);

    // A port where nothing listens any more.
    const net::SocketHandle probe = net::openSocket(net::Family::ipv4, net::Transport::stream);
    std::uint16_t port = 0;
    int length = 0;
    ASSERT_TRUE(net::bindLoopback(probe, net::Family::ipv4, 0));
    ASSERT_TRUE(net::boundPort(probe, port, length));
    net::closeSocket(probe);
    result = run({"want", "127.0.0.1", std::to_string(port), "notepad"});
    EXPECT_EQ(result.code, exitCannotConnect);
    EXPECT_NE(result.err.find("cannot connect to 127.0.0.1 port"), std::string::npos);
}

TEST_F(PadToolTest, BadArgumentsAndHelp) {
    ToolRun result = run({"pad", "host", "1"});
    EXPECT_EQ(result.code, exitBadArguments);
    EXPECT_EQ(result.err.rfind("pellvane-pad: ", 0), 0u);
    EXPECT_TRUE(result.out.empty());
    result = run({"--help"});
    EXPECT_EQ(result.code, exitDone);
    EXPECT_NE(result.out.find("pellvane-pad browse"), std::string::npos);
}

// The host that browsing prints is one only DNS-SD knows, as on a system whose resolver
// does not ask multicast DNS: given back to the tool, it still connects.
TEST_F(PadToolTest, BrowseListsBothServicesAndItsAnswerConnects) {
    startPad();
    startChannel();
    ToolRun result = run({"browse", "--wait", "300"});
    ASSERT_EQ(result.code, exitDone) << result.err;
    const std::string host = "pellvane-test-host.local";
    const std::string padLine =
        "pad\tTestHost\t" + host + "\t" + std::to_string(pad->tcpPort()) + "\n";
    const std::string channelLine =
        "channel\tTestHost\t" + host + "\t" + std::to_string(channel->tcpPort()) + "\n";
    EXPECT_NE(result.out.find(padLine), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(channelLine), std::string::npos) << result.out;

    result = run(toPad("type", {"ok"}, host));
    ASSERT_EQ(result.code, exitDone) << result.err;
    EXPECT_TRUE(padDelegate.waitFor("message:6", 2));

    result = run(toPad("type", {"ok"}, "elsewhere.local"));
    EXPECT_EQ(result.code, exitCannotConnect);
    EXPECT_EQ(result.err, "pellvane-pad: cannot find the host elsewhere.local\n");
}

// Without the DNS-SD library the tool browses and resolves through the system's own DNS-SD,
// as the services register through it.
TEST_F(PadToolTest, BrowseFindsBothServicesThroughTheSystemsOwnDnssd) {
    dnssd::unloadLibrary();
    dnssd::loadLibrary("pellvane-no-such-library", testing::openStandInSystemDnssd());
    startPad();
    startChannel();
    const ToolRun result = run({"browse", "--wait", "300"});
    ASSERT_EQ(result.code, exitDone) << result.err;
    std::array<char, 256> computer{};
    net::hostName(computer.data(), computer.size());
    const std::string host = std::string(computer.data()) + ".local\t";
    EXPECT_NE(result.out.find("pad\tTestHost\t" + host + std::to_string(pad->tcpPort()) + "\n"),
              std::string::npos)
        << result.out;
    EXPECT_NE(
        result.out.find("channel\tTestHost\t" + host + std::to_string(channel->tcpPort()) + "\n"),
        std::string::npos)
        << result.out;
}

TEST_F(PadToolTest, BrowseEscapesControlCharactersInNames) {
    pad = std::make_unique<ZarvoServer>("Odd\tName\n", "_kesp._tcp", "");
    pad->setDelegate(&padDelegate);
    ASSERT_NE(pad->start(), ZarvoServer::startFailed);
    const ToolRun result = run({"browse", "--wait", "200"});
    ASSERT_EQ(result.code, exitDone) << result.err;
    EXPECT_EQ(result.out, "pad\tOdd\\x09Name\\x0a\tpellvane-test-host.local\t" +
                              std::to_string(pad->tcpPort()) + "\n");
}

TEST_F(PadToolTest, BrowseWithoutServicesOrWithoutDnssd) {
    ToolRun result = run({"browse", "--wait", "100"});
    EXPECT_EQ(result.code, exitNoService);
    EXPECT_EQ(result.err, "pellvane-pad: no service found\n");
    dnssd::unloadLibrary();
    result = run({"browse", "--wait", "100"});
    EXPECT_EQ(result.code, exitNoService);
    EXPECT_NE(result.err.find("DNS-SD is not available"), std::string::npos);
}

}  // namespace
}  // namespace pellvane::tool
