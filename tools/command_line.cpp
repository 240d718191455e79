#include "tools/command_line.h"

#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <string_view>

#include "server/wire_protocol.h"
#include "tools/utf8_text.h"

namespace pellvane::tool {
namespace {

constexpr int longestWaitMs = 24 * 60 * 60 * 1000;

struct Subcommand {
    CommandKind kind;
    std::size_t positionals;  // HOST PORT and what follows them
    std::set<std::string_view> options;
};

const std::map<std::string_view, Subcommand>& subcommands() {
    static const std::map<std::string_view, Subcommand> table = {
        {"browse", {CommandKind::browse, 0, {"--wait"}}},
        {"connect", {CommandKind::connect, 2, {"--name", "--timeout"}}},
        {"type", {CommandKind::type, 3, {"--name", "--key", "--udp", "--timeout", "--hold"}}},
        {"want", {CommandKind::want, 3, {"--name", "--timeout", "--hold"}}},
        {"pad",
         {CommandKind::pad, 2, {"--name", "--axis", "--button", "--udp", "--timeout", "--hold"}}},
        {"channel", {CommandKind::channel, 2, {"--hex", "--timeout"}}},
    };
    return table;
}

bool takesValue(std::string_view option) {
    return option != "--udp";
}

// The whole text as a decimal number of the type's range.
template <class Integer>
bool parseInteger(std::string_view text, Integer& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool parseFiniteFloat(std::string_view text, float& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty() &&
           std::isfinite(value);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hex digits in pairs; spaces, colons and dashes may separate the bytes.
std::optional<std::vector<std::uint8_t>> parseHex(std::string_view text) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ' || c == ':' || c == '-') {
            if (high >= 0)
                return std::nullopt;  // a separator inside a byte
            continue;
        }
        const int digit = hexDigit(c);
        if (digit < 0)
            return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

// Splits "ID=VALUE".
bool splitAssignment(std::string_view text, std::string_view& id, std::string_view& value) {
    const auto equals = text.find('=');
    if (equals == std::string_view::npos)
        return false;
    id = text.substr(0, equals);
    value = text.substr(equals + 1);
    return true;
}

class Parser {
  public:
    explicit Parser(ToolCommand& command) : command_(command) {}

    // Applies one option; an error text when its value is unusable.
    std::string apply(std::string_view option, std::string_view value) {
        if (option == "--udp") {
            command_.udp = true;
        } else if (option == "--name") {
            if (value.empty() || value.size() >= wire::nameFieldSize) {
                return "--name takes 1 to 127 bytes";
            }
            command_.deviceName = std::string(value);
        } else if (option == "--key") {
            std::uint32_t key = 0;
            if (!parseInteger(value, key) || key >= wire::keyIndexLimit) {
                return "--key takes a key position from 0 to 262, not '" + std::string(value) + "'";
            }
            command_.keys.push_back(key);
        } else if (option == "--axis") {
            return applyAxis(value);
        } else if (option == "--button") {
            return applyButton(value);
        } else if (option == "--hex") {
            const auto bytes = parseHex(value);
            if (!bytes || bytes->size() > wire::MAXUINT16 - wire::headerSize) {
                return "--hex takes pairs of hex digits (at most 65523 bytes), not '" +
                       std::string(value) + "'";
            }
            command_.channelBytes = *bytes;
            hexGiven_ = true;
        } else if (option == "--wait") {
            return applyMilliseconds(value, option, command_.browseMs);
        } else if (option == "--timeout") {
            return applyMilliseconds(value, option, command_.answerTimeoutMs);
        } else if (option == "--hold") {
            return applyMilliseconds(value, option, command_.holdMs);
        }
        return {};
    }

    bool hexGiven() const { return hexGiven_; }

  private:
    std::string applyAxis(std::string_view assignment) {
        std::string_view id;
        std::string_view value;
        std::uint32_t axis = 0;
        float position = 0.0f;
        if (!splitAssignment(assignment, id, value) || !parseInteger(id, axis) ||
            axis >= wire::axisIdLimit || !parseFiniteFloat(value, position)) {
            return "--axis takes ID=VALUE with an axis from 0 to 13 and a number, not '" +
                   std::string(assignment) + "'";
        }
        command_.axes.push_back({axis, position});
        return {};
    }

    std::string applyButton(std::string_view assignment) {
        std::string_view id;
        std::string_view value;
        std::uint32_t button = 0;
        if (!splitAssignment(assignment, id, value) || !parseInteger(id, button) ||
            button >= wire::buttonLimit || (value != "0" && value != "1")) {
            return "--button takes N=0 or N=1 with a button from 0 to 19, not '" +
                   std::string(assignment) + "'";
        }
        command_.buttons.push_back({button, value == "1"});
        return {};
    }

    static std::string applyMilliseconds(std::string_view value, std::string_view option,
                                         int& target) {
        int ms = 0;
        if (!parseInteger(value, ms) || ms < 0 || ms > longestWaitMs) {
            return std::string(option) + " takes milliseconds, not '" + std::string(value) + "'";
        }
        target = ms;
        return {};
    }

    ToolCommand& command_;
    bool hexGiven_ = false;
};

ParsedCommandLine failure(std::string error) {
    ParsedCommandLine parsed;
    parsed.error = std::move(error);
    return parsed;
}

// What each subcommand needs beyond well-formed options.
std::string checkComplete(const ToolCommand& command, bool hexGiven) {
    switch (command.kind) {
        case CommandKind::type:
            if (command.keys.empty() == command.text.empty()) {
                return "type takes either TEXT or --key INDEX, not both and not neither";
            }
            if (!command.text.empty() && !utf16CharactersFromUtf8(command.text)) {
                return "TEXT is not valid UTF-8";
            }
            break;
        case CommandKind::want:
            if (command.app.empty() || command.app.size() >= wire::nameFieldSize) {
                return "want takes an application name of 1 to 127 bytes";
            }
            break;
        case CommandKind::pad:
            if (command.axes.empty() && command.buttons.empty()) {
                return "pad needs at least one --axis ID=VALUE or --button N=0|1";
            }
            break;
        case CommandKind::channel:
            if (!hexGiven) {
                return "channel needs --hex BYTES";
            }
            break;
        default:
            break;
    }
    return {};
}

}  // namespace

ParsedCommandLine parseCommandLine(std::span<const std::string> args) {
    if (args.empty()) {
        return failure("no command given (try --help)");
    }
    if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        ParsedCommandLine parsed;
        parsed.ok = true;
        return parsed;
    }
    const auto found = subcommands().find(args[0]);
    if (found == subcommands().end()) {
        return failure("unknown command '" + args[0] + "' (try --help)");
    }
    const Subcommand& subcommand = found->second;
    ParsedCommandLine parsed;
    ToolCommand& command = parsed.command;
    command.kind = subcommand.kind;
    Parser parser(command);
    std::vector<std::string> positionals;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            command.kind = CommandKind::help;
            parsed.ok = true;
            return parsed;
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
            positionals.push_back(arg);
            continue;
        }
        const auto equals = arg.find('=');
        const std::string_view option = std::string_view(arg).substr(0, equals);
        if (subcommand.options.count(option) == 0) {
            return failure("unknown option " + std::string(option) + " for " + args[0]);
        }
        std::string_view value;
        if (equals != std::string::npos) {
            value = std::string_view(arg).substr(equals + 1);
        } else if (takesValue(option)) {
            if (i + 1 == args.size()) {
                return failure(std::string(option) + " needs a value");
            }
            value = args[++i];
        }
        if (std::string error = parser.apply(option, value); !error.empty()) {
            return failure(error);
        }
    }

    // `type` with --key takes no TEXT, so it may have one positional fewer.
    const std::size_t wanted = subcommand.positionals;
    const bool keysInsteadOfText = command.kind == CommandKind::type && !command.keys.empty();
    const std::size_t expected = keysInsteadOfText ? wanted - 1 : wanted;
    if (positionals.size() != expected) {
        return failure(args[0] + " takes " + std::to_string(expected) + " argument" +
                       (expected == 1 ? "" : "s") + ", not " + std::to_string(positionals.size()) +
                       " (try --help)");
    }
    if (wanted >= 2) {
        command.host = positionals[0];
        std::uint16_t port = 0;
        if (!parseInteger(positionals[1], port) || port == 0) {
            return failure("PORT must be a number from 1 to 65535, not '" + positionals[1] + "'");
        }
        command.port = port;
    }
    if (positionals.size() == 3) {
        (command.kind == CommandKind::type ? command.text : command.app) = positionals[2];
    }
    if (std::string error = checkComplete(command, parser.hexGiven()); !error.empty()) {
        return failure(error);
    }
    parsed.ok = true;
    return parsed;
}

const char* usageText() {
    return R"(pellvane-pad: a pad and channel client for Pellvane Server

Usage:
  pellvane-pad browse [--wait MS]
      List the pad and channel services found through DNS-SD: kind, name, host, port.
      The host and port work as HOST and PORT below: a host name in the "local" domain
      that the system's resolver does not know is looked up through DNS-SD.
  pellvane-pad connect HOST PORT [--name NAME]
      Say hello, print the application list, the UDP ports and every application
      name the server sends, until interrupted.
  pellvane-pad type HOST PORT [--name NAME] [--udp] TEXT
  pellvane-pad type HOST PORT [--name NAME] [--udp] --key INDEX [--key INDEX ...]
      Type TEXT character by character, or press the key positions (0-262) in order
      and release them in reverse order.
  pellvane-pad want HOST PORT [--name NAME] APP
      Name the application that the pad's layout is meant for ("<generic>": any).
  pellvane-pad pad HOST PORT [--name NAME] [--udp] [--axis ID=VALUE ...] [--button N=0|1 ...]
      Move axes 0-13 (VALUE 0.0-1.0) in one event, then set buttons 0-19.
  pellvane-pad channel HOST PORT --hex BYTES
      Send one channel event with the given bytes to a channel service.

Options:
  --name NAME     device name shown to the local user (default "pellvane-pad")
  --udp           send the events as datagrams to the port the server announced
  --timeout MS    how long to wait for the server's answer (default 60000)
  --hold MS       stay connected this long after sending (default 0, or 1000 with --udp,
                  since the server takes datagrams only from connected hosts)
  --wait MS       how long browse listens (default 2000)

Exit codes: 0 done, 1 failure, 2 bad arguments, 3 cannot connect (no answer within
10 s counts), 4 refused, 5 connection closed, 6 no service found.
)";
}

}  // namespace pellvane::tool
