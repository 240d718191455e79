#include "shell/posix/terminal_loop.h"

#include <cstdint>
#include <optional>

namespace pellvane::shell {

void showChannelPort(std::FILE* output, std::uint16_t port) {
    std::fprintf(output, "Channel server port: %d\n", static_cast<int>(port));
    std::fflush(output);
}

void runTerminalLoop(Application& application, TerminalEvents& events, std::FILE* output) {
    std::uint16_t shownPort = application.channelPort();
    showChannelPort(output, shownPort);
    for (;;) {
        const std::optional<TerminalRequest> request = events.waitFor(portCheckInterval);
        if (request == TerminalRequest::quit) {
            return;
        }
        if (request == TerminalRequest::disconnect) {
            application.disconnect();
        }
        const std::uint16_t port = application.channelPort();
        if (port != shownPort) {
            shownPort = port;
            showChannelPort(output, shownPort);
        }
    }
}

}  // namespace pellvane::shell
