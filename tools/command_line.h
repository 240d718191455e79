// The tool's command line: one subcommand, its positional arguments and its options,
// checked completely before anything touches the network.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "server/wire_protocol.h"

namespace pellvane::tool {

enum class CommandKind { help, browse, connect, type, want, pad, channel };

struct ButtonValue {
    std::uint32_t button = 0;
    bool pressed = false;
};

struct ToolCommand {
    CommandKind kind = CommandKind::help;
    std::string host;
    std::uint16_t port = 0;
    std::string deviceName = "pellvane-pad";
    bool udp = false;
    std::string text;                     // type: the text to type
    std::vector<std::uint32_t> keys;      // type --key: key positions, pressed as one chord
    std::string app;                      // want
    std::vector<wire::GamepadPair> axes;  // pad
    std::vector<ButtonValue> buttons;
    std::vector<std::uint8_t> channelBytes;  // channel --hex
    int browseMs = 2000;                     // browse --wait
    int answerTimeoutMs = 60000;             // how long the local user may take to admit us
    int holdMs = -1;  // how long to stay connected after sending; -1: default
};

struct ParsedCommandLine {
    bool ok = false;
    ToolCommand command;
    std::string error;  // one line, when not ok
};

// `args` excludes the program name.
ParsedCommandLine parseCommandLine(std::span<const std::string> args);

// The text that --help prints.
const char* usageText();

}  // namespace pellvane::tool
