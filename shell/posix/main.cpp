// The Linux program: the same services and start-up order as the Windows tray program,
// with the terminal in place of the tray (see --help).
#include <chrono>
#include <cstdio>

#include "platform/debug_output.h"
#include "server/dnssd_binding.h"
#include "shell/application.h"
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
    shell::SystemSeams system(keyboard::SystemKeyboardOptions{
        .printRecords = options.printKeys, .unicodeHexInput = options.unicodeHex});
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

    // The virtual game controller (pellvane-vpad, a child process) comes first: the services
    // look for it once, as they start. It goes after them, at the end.
    shell::VpadLauncher vpad;
    vpad.start();

    shell::Application application(system.seams());
    application.start();
    shell::runTerminalLoop(application, events, stdout);
    application.shutDown();
    vpad.stop();

    watcher.stop();
    deadline.cancel();
    return 0;
}
