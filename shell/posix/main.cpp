// The Linux program: the same services and start-up order as the Windows tray program,
// with the terminal in place of the tray (see --help).
#include <chrono>
#include <cstdio>

#include "platform/debug_output.h"
#include "server/dnssd_binding.h"
#include "shell/application.h"
#include "shell/posix/autostart.h"
#include "shell/posix/desktop_dialogs.h"
#include "shell/posix/desktop_loop.h"
#include "shell/posix/desktop_start.h"
#include "shell/posix/desktop_tray.h"
#include "shell/posix/program_options.h"
#include "shell/posix/quit_deadline.h"
#include "shell/posix/signal_watcher.h"
#include "shell/posix/terminal_events.h"
#include "shell/posix/terminal_loop.h"
#include "shell/posix/vpad_launcher.h"
#include "shell/single_instance.h"
#include "shell/system_seams.h"

namespace {

// Long enough for an orderly end of both services; an open admission question is the one
// thing that can hold the pad service's thread past it.
constexpr std::chrono::seconds quitGrace{5};
// How long start-up waits for the desktop's notification server to say what it can do.
constexpr std::chrono::milliseconds notificationServerWait{2000};

// The tray and notifications, where a session bus takes them; none otherwise.
std::unique_ptr<pellvane::shell::DesktopTray> startDesktop(
    pellvane::shell::DesktopDialogs& dialogs) {
    using namespace pellvane;
    std::unique_ptr<bus::Connection> bus = bus::openSessionBus();
    if (bus == nullptr) {
        return nullptr;
    }
    auto tray =
        std::make_unique<shell::DesktopTray>(std::move(bus), dialogs, shell::iconThemePath(),
                                             [] { std::fputs(shell::noTrayHint, stderr); });
    if (!tray->start(notificationServerWait)) {
        return nullptr;
    }
    return tray;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pellvane;
    const shell::ProgramOptions options = shell::parseProgramOptions(argc, argv);
    if (!options.error.empty()) {
        std::fputs(options.error.c_str(), stderr);
        return shell::usageExitCode;
    }
    if (options.help) {
        std::fputs(shell::helpText(), stdout);
        return 0;
    }
    debug::setEnabled(options.debug);

    // Before any thread exists, so that only the watcher ever takes these signals.
    if (!shell::blockTerminalSignals()) {
        std::perror("pellvane-server: cannot set up signal handling");
        return 1;
    }
    dnssd::LibraryScope dnssdLibrary;
    auto ownedDialogs = std::make_unique<shell::DesktopDialogs>(
        options.terminal ? dialogs::createSystemDialogs() : shell::fallbackDialogs());
    shell::DesktopDialogs& desktopDialogs = *ownedDialogs;
    shell::SystemSeams system(
        keyboard::SystemKeyboardOptions{.printRecords = options.printKeys,
                                        .unicodeHexInput = options.unicodeHex},
        std::move(ownedDialogs));
    const auto instanceGuard = shell::claimSingleInstance(system.dialogs());
    if (!instanceGuard) {
        return 0;
    }

    shell::TerminalEvents events;
    shell::QuitDeadline deadline(quitGrace);
    shell::SignalWatcher watcher(events, deadline);
    if (!watcher.start()) {
        std::fputs("pellvane-server: cannot start the signal watcher\n", stderr);
        return 1;
    }

    std::unique_ptr<shell::DesktopTray> tray =
        options.terminal ? nullptr : startDesktop(desktopDialogs);
    // The virtual game controller (pellvane-vpad, a child process) comes first: the services
    // look for it once, as they start. It goes after them, at the end.
    shell::VpadLauncher vpad;
    vpad.start();

    shell::Application application(system.seams());
    application.start();
    const shell::LoginStart loginStart{
        .enabled = [] { return shell::autostartEnabled(); },
        .set =
            [](bool enable) {
                return (enable ? shell::enableAutostart() : shell::disableAutostart()).empty();
            }};
    const bool quit = tray != nullptr && shell::runDesktopLoop(application, events, *tray,
                                                               desktopDialogs, loginStart, stdout);
    if (!quit) {
        tray.reset();  // the bus went away: the terminal goes on
        shell::runTerminalLoop(application, events, stdout);
    }
    application.shutDown();
    vpad.stop();
    tray.reset();

    watcher.stop();
    deadline.cancel();
    return 0;
}
