#include "shell/posix/desktop_start.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/posix/dialog_program.h"
#include "platform/posix/file_descriptor.h"

namespace pellvane::shell {
namespace {

std::filesystem::path programDirectory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

bool holdsIcon(const std::filesystem::path& theme) {
    std::error_code error;
    return std::filesystem::exists(theme / "hicolor/scalable/apps/pellvane-server.svg", error);
}

bool acceptsConnections(const std::string& socketPath) {
    sockaddr_un address{};
    if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, socketPath.size());
    const posix::FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return socket && ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address),
                               sizeof address) == 0;
}

std::string environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value == nullptr ? std::string() : std::string(value);
}

// A display that a dialog program can open: a Wayland socket, or an X server that answers
// on its local socket (":N" or ":N.S"); a display elsewhere (HOST:N) is taken on trust. A
// DISPLAY left behind by a server that has gone would only make every box fail.
bool displayReachable() {
    const std::string wayland = environmentValue("WAYLAND_DISPLAY");
    if (!wayland.empty()) {
        const std::string runtime = environmentValue("XDG_RUNTIME_DIR");
        if (acceptsConnections(wayland.front() == '/' ? wayland : runtime + "/" + wayland)) {
            return true;
        }
    }
    const std::string display = environmentValue("DISPLAY");
    if (display.empty()) {
        return false;
    }
    if (display.front() != ':') {
        return true;
    }
    const std::string number = display.substr(1, display.find('.') - 1);
    return acceptsConnections("/tmp/.X11-unix/X" + number);
}

}  // namespace

std::unique_ptr<dialogs::Dialogs> fallbackDialogs() {
    std::unique_ptr<dialogs::Dialogs> program =
        displayReachable() ? dialogs::createDialogProgramDialogs() : nullptr;
    return program != nullptr ? std::move(program) : dialogs::createSystemDialogs();
}

std::string iconThemePath() {
    const std::filesystem::path directory = programDirectory();
    for (const std::filesystem::path& theme :
         {directory / "../share/icons", directory / "data/icons"}) {
        if (holdsIcon(theme)) {
            return std::filesystem::weakly_canonical(theme).string();
        }
    }
    return {};
}

}  // namespace pellvane::shell
