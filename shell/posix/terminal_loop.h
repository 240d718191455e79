// The Linux program's main loop, in place of the window message loop: carries out the
// user's Disconnect and Quit and keeps the channel service's port on standard output.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>

#include "shell/application.h"
#include "shell/posix/terminal_events.h"

namespace pellvane::shell {

// How often the channel port is looked at; a restart of the channel service shows within it.
// Once a second keeps an idle program from waking more often than that.
inline constexpr std::chrono::milliseconds portCheckInterval{1000};

// "Channel server port: N", flushed: whoever reads the port (a person, a script) must see
// it now, not at exit.
void showChannelPort(std::FILE* output, std::uint16_t port);

// Prints "Channel server port: N" at once and again whenever the port changes; returns
// when Quit is asked for.
void runTerminalLoop(Application& application, TerminalEvents& events, std::FILE* output);

}  // namespace pellvane::shell
