#include "shell/posix/desktop_loop.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>

#include "platform/dialogs.h"
#include "shell/posix/terminal_loop.h"

namespace pellvane::shell {
namespace {

constexpr char aboutCaption[] = "Informazioni su Pellvane";
constexpr char aboutText[] = "Pellvane, versione 1.0\nCopyright (C) 2026";

int waitTime(const DesktopTray& tray) {
    const int busTimeout = tray.busTimeoutMs();
    const int interval = static_cast<int>(portCheckInterval.count());
    return busTimeout < 0 ? interval : std::min(busTimeout, interval);
}

void waitForWork(DesktopTray& tray, const DesktopDialogs& dialogs, const TerminalEvents& events) {
    pollfd watched[3] = {{tray.busDescriptor(), tray.busEvents(), 0},
                         {dialogs.wakeDescriptor(), POLLIN, 0},
                         {events.descriptor(), POLLIN, 0}};
    if (::poll(watched, 3, waitTime(tray)) < 0 && errno != EINTR) {
        ::poll(nullptr, 0, static_cast<int>(portCheckInterval.count()));  // no busy loop
    }
}

// False when the command ends the program.
bool run(MenuCommand command, Application& application, DesktopDialogs& dialogs,
         const LoginStart& loginStart) {
    switch (command) {
        case MenuCommand::allow:
        case MenuCommand::refuse:
            dialogs.answer(0, command == MenuCommand::allow);
            break;
        case MenuCommand::disconnect:
            application.disconnect();
            break;
        case MenuCommand::startAtLogin:
            if (loginStart.enabled && loginStart.set && !loginStart.set(!loginStart.enabled())) {
                dialogs.messageBox("Start at login could not be changed.", "Pellvane Server",
                                   dialogs::okOnly | dialogs::iconError);
            }
            break;
        case MenuCommand::about:
            dialogs.messageBox(aboutText, aboutCaption, dialogs::okOnly | dialogs::iconInformation);
            break;
        case MenuCommand::quit:
            return false;
        case MenuCommand::none:
            break;
    }
    return true;
}

}  // namespace

TrayState trayStateOf(Application& application, const DesktopDialogs& dialogs, bool startAtLogin) {
    TrayState state;
    state.channelPort = application.channelPort();
    state.padClientConnected = application.padClientConnected();
    for (const ClientTable::AdmittedClient& client : application.padServer().admittedClients()) {
        state.pads.push_back({client.deviceName, net::hostText(client.host)});
    }
    state.questionDevice = dialogs.openQuestionDevice();
    state.startAtLogin = startAtLogin;
    return state;
}

bool runDesktopLoop(Application& application, TerminalEvents& events, DesktopTray& tray,
                    DesktopDialogs& dialogs, const LoginStart& loginStart, std::FILE* output) {
    std::uint16_t shownPort = application.channelPort();
    showChannelPort(output, shownPort);
    for (;;) {
        const bool startAtLogin = loginStart.enabled && loginStart.enabled();
        tray.show(trayStateOf(application, dialogs, startAtLogin));
        waitForWork(tray, dialogs, events);
        if (!tray.process()) {
            return false;
        }
        for (const MenuCommand command : tray.takeCommands()) {
            if (!run(command, application, dialogs, loginStart)) {
                return true;
            }
        }
        while (const std::optional<TerminalRequest> request = events.take()) {
            if (*request == TerminalRequest::quit) {
                return true;
            }
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
