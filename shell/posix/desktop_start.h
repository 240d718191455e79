// Whether the Linux program runs on a desktop, and what it then uses there: the session
// bus for the tray and notifications, and the boxes behind them.
#pragma once

#include <memory>
#include <string>

#include "platform/dialogs.h"
#include "platform/session_bus.h"

namespace pellvane::shell {

// The boxes to fall back on where notifications cannot ask: a dialog program on a display,
// else the terminal.
std::unique_ptr<dialogs::Dialogs> fallbackDialogs();

// Where the program's icon theme lies: installed beside the program's share folder, or in
// the build tree's copy.
std::string iconThemePath();

// Said once on standard error when no tray takes the icon.
inline constexpr char noTrayHint[] =
    "pellvane-server: no tray shows the program's icon; questions come as notifications. "
    "On GNOME, the AppIndicator extension (package gnome-shell-extension-appindicator) "
    "shows it.\n";

}  // namespace pellvane::shell
