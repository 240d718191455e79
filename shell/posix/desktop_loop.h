// The Linux program's main loop on a desktop: the tray's bus, the questions' wake-ups and
// the signals' requests in one poll, until the user quits from the menu or by a signal.
#pragma once

#include <cstdio>
#include <functional>

#include "shell/application.h"
#include "shell/posix/desktop_dialogs.h"
#include "shell/posix/desktop_tray.h"
#include "shell/posix/terminal_events.h"

namespace pellvane::shell {

// Start at login, as the menu's check item reads and sets it.
struct LoginStart {
    std::function<bool()> enabled;
    std::function<bool(bool enable)> set;  // false when it could not be changed
};

// Returns when the user quits; false instead when the bus went away (the caller then goes
// on without the desktop).
bool runDesktopLoop(Application& application, TerminalEvents& events, DesktopTray& tray,
                    DesktopDialogs& dialogs, const LoginStart& loginStart, std::FILE* output);

// What the tray shows about `application` now.
TrayState trayStateOf(Application& application, const DesktopDialogs& dialogs, bool startAtLogin);

}  // namespace pellvane::shell
