#include "tools/pad_tool.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "server/wire_building.h"
#include "server/wire_reading.h"
#include "tools/command_line.h"
#include "tools/message_report.h"
#include "tools/pad_connection.h"
#include "tools/service_browser.h"
#include "tools/utf8_text.h"

namespace pellvane::tool {
namespace {

constexpr int resolveMs = 3000;
constexpr int udpHoldMs = 1000;
constexpr int connectPollMs = 100;
// A burst of datagrams larger than the server's receive buffer would be dropped in part.
constexpr auto datagramSpacing = std::chrono::milliseconds(2);

// A failed step: its exit code and one line for the user.
struct Failure {
    int code = exitDone;
    std::string line;
    explicit operator bool() const { return code != exitDone; }
};

Failure readFailure(ReadStatus status, const char* waitingFor) {
    switch (status) {
        case ReadStatus::closed:
            return {exitConnectionClosed,
                    std::string("connection closed by the server while waiting for ") + waitingFor};
        case ReadStatus::timedOut:
            return {exitFailed,
                    std::string("no answer from the server while waiting for ") + waitingFor};
        case ReadStatus::malformed:
            return {exitFailed, "the server sent a message that cannot be read"};
        case ReadStatus::message:
            break;
    }
    return {};
}

class Session {
  public:
    Session(const ToolCommand& command, std::ostream& out, const StopSignal& stop)
        : command_(command), out_(out), stop_(stop) {}

    Failure run() {
        switch (command_.kind) {
            case CommandKind::help:
                out_ << usageText();
                return {};
            case CommandKind::browse:
                return browse();
            case CommandKind::connect:
                return connectAndListen();
            case CommandKind::type:
                return sendEvents(keyMessages());
            case CommandKind::want:
                return sendEvents({wantedAppMessage()});
            case CommandKind::pad:
                return sendEvents(gamepadMessages());
            case CommandKind::channel:
                return sendChannelEvent();
        }
        return {};
    }

  private:
    Failure browse() {
        const BrowseOutcome outcome = browseServices(command_.browseMs, resolveMs);
        if (outcome.error != 0) {
            return {exitNoService, "DNS-SD is not available on this computer (error " +
                                       std::to_string(outcome.error) + ")"};
        }
        if (outcome.services.empty()) {
            return {exitNoService, "no service found"};
        }
        for (const FoundService& service : outcome.services) {
            // Names from the network, tab-separated: tabs and line breaks in them are escaped.
            out_ << service.kind << '\t' << printableText(service.name) << '\t'
                 << printableText(service.host) << '\t' << service.port << std::endl;
        }
        return {};
    }

    Failure open() {
        switch (connection_.open(command_.host, command_.port)) {
            case PadConnection::OpenStatus::connected:
                return {};
            case PadConnection::OpenStatus::unknownHost:
                return {exitCannotConnect, "cannot find the host " + command_.host};
            case PadConnection::OpenStatus::unreachable:
                break;
        }
        return {exitCannotConnect,
                "cannot connect to " + command_.host + " port " + std::to_string(command_.port)};
    }

    // Hello, then the HelloReply and UdpInfo that admit us.
    Failure admit(bool report) {
        if (Failure failed = open()) {
            return failed;
        }
        if (!connection_.send(wire::buildHello(command_.deviceName))) {
            return {exitConnectionClosed, "connection closed by the server before the hello"};
        }
        return awaitAdmission(report);
    }

    Failure awaitAdmission(bool report) {
        ReceivedMessage reply;
        if (Failure failed =
                readFailure(connection_.read(reply, command_.answerTimeoutMs), "admission")) {
            return failed;
        }
        const std::uint32_t type = reply.header.type;
        if (type == wire::Refusal) {
            return {exitRefused, "refused by the server \"" + serverNameOf(reply) + "\""};
        }
        if (type != wire::HelloReply) {
            return {exitFailed, "the server answered with message type " + std::to_string(type)};
        }
        if (report) {
            out_ << describeHelloReply(reply) << std::flush;
        }
        // A broadcast (the application in front, a channel event) may overtake the UdpInfo.
        for (;;) {
            ReceivedMessage info;
            if (Failure failed = readFailure(connection_.read(info, command_.answerTimeoutMs),
                                             "the UDP ports")) {
                return failed;
            }
            if (report) {
                out_ << describeMessage(info) << std::flush;
            }
            if (info.header.type == wire::UdpInfo) {
                const std::optional<wire::UdpPorts> ports = wire::readUdpInfo(info.bytes);
                if (!ports) {
                    return {exitFailed,
                            "the server announced its UDP ports in a malformed message"};
                }
                ports_ = *ports;
                return {};
            }
        }
    }

    Failure connectAndListen() {
        if (Failure failed = admit(true)) {
            return failed;
        }
        while (!stop_.requested()) {
            ReceivedMessage message;
            const ReadStatus status = connection_.read(message, connectPollMs);
            if (status == ReadStatus::timedOut) {
                continue;
            }
            if (Failure failed = readFailure(status, "messages")) {
                return failed;
            }
            out_ << describeMessage(message) << std::flush;
        }
        return {};
    }

    Failure sendEvents(const std::vector<Message>& messages) {
        if (Failure failed = admit(false)) {
            return failed;
        }
        const std::uint16_t udpPort =
            connection_.family() == net::Family::ipv4 ? ports_.ipv4 : ports_.ipv6;
        if (command_.udp && udpPort == 0) {
            return {exitFailed, "the server announced no UDP port"};
        }
        for (std::size_t i = 0; i < messages.size(); ++i) {
            if (command_.udp) {
                if (i > 0) {
                    std::this_thread::sleep_for(datagramSpacing);
                }
                if (!connection_.sendDatagram(udpPort, messages[i])) {
                    return {exitFailed,
                            "cannot send a datagram to port " + std::to_string(udpPort)};
                }
            } else if (!connection_.send(messages[i])) {
                return {exitConnectionClosed, "connection closed by the server while sending"};
            }
        }
        hold();
        return {};
    }

    Failure sendChannelEvent() {
        if (Failure failed = open()) {
            return failed;
        }
        // A channel service admits on the first message and then relays it.
        if (!connection_.send(wire::buildChannelEvent(command_.channelBytes))) {
            return {exitConnectionClosed, "connection closed by the server while sending"};
        }
        Failure failed = awaitAdmission(false);
        if (failed.code == exitConnectionClosed) {
            // A pad service closes a connection whose first message is not a Hello.
            failed.line += " (is it a channel service?)";
        }
        return failed;
    }

    // Stays connected for a while: the server takes datagrams only from admitted hosts,
    // and it may read them after it has seen this connection end.
    void hold() {
        const int holdMs = command_.holdMs >= 0 ? command_.holdMs : (command_.udp ? udpHoldMs : 0);
        if (holdMs > 0) {
            stop_.waitFor(std::chrono::milliseconds(holdMs));
        }
    }

    std::vector<Message> keyMessages() const {
        std::vector<Message> messages;
        if (!command_.keys.empty()) {
            // A chord: pressed in order, released in reverse order.
            std::vector<wire::KeyEntry> entries;
            for (std::uint32_t key : command_.keys) {
                entries.push_back({.keyIndex = key});
            }
            messages.push_back(wire::buildKeyMessage(wire::KeyDown, entries));
            std::reverse(entries.begin(), entries.end());
            messages.push_back(wire::buildKeyMessage(wire::KeyUp, entries));
            return messages;
        }
        // Each character goes down and up on its own; a character outside the Basic
        // Multilingual Plane travels as its two code units in one message.
        const auto characters = utf16CharactersFromUtf8(command_.text);  // checked when parsed
        for (const std::u16string& character : characters.value_or(std::vector<std::u16string>{})) {
            std::vector<wire::KeyEntry> entries;
            for (char16_t unit : character) {
                entries.push_back({.character = unit});
            }
            messages.push_back(wire::buildKeyMessage(wire::KeyDown, entries));
            messages.push_back(wire::buildKeyMessage(wire::KeyUp, entries));
        }
        return messages;
    }

    std::vector<Message> gamepadMessages() const {
        std::vector<Message> messages;
        if (!command_.axes.empty()) {
            messages.push_back(wire::buildGamepadEvent(wire::gamepadAxes, command_.axes));
        }
        for (const ButtonValue& button : command_.buttons) {
            // 1.0 presses, 0.0 releases.
            const wire::GamepadPair pair{button.button, button.pressed ? 1.0f : 0.0f};
            messages.push_back(wire::buildGamepadEvent(wire::gamepadButton, {&pair, 1}));
        }
        return messages;
    }

    // The application the pad's layout is meant for; the name was checked to fit in 127 bytes.
    Message wantedAppMessage() const {
        wire::AppNameRecord record;
        record.setName(command_.app);
        return wire::buildAppName(record);
    }

    const ToolCommand& command_;
    std::ostream& out_;
    const StopSignal& stop_;
    PadConnection connection_;
    wire::UdpPorts ports_;
};

}  // namespace

int runPadTool(std::span<const std::string> args, std::ostream& out, std::ostream& err,
               const StopSignal& stop) {
    const ParsedCommandLine parsed = parseCommandLine(args);
    if (!parsed.ok) {
        err << "pellvane-pad: " << parsed.error << std::endl;
        return exitBadArguments;
    }
    Session session(parsed.command, out, stop);
    const Failure failure = session.run();
    if (failure) {
        err << "pellvane-pad: " << failure.line << std::endl;
    }
    return failure.code;
}

}  // namespace pellvane::tool
