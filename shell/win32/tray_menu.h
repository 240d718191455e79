// The popup menu that a click on the tray icon opens: the channel port, Disconnect while a
// pad client is there, and Quit.
#pragma once

#include <windows.h>

#include <cstdint>

namespace pellvane::shell::win32 {

struct TrayMenuContent {
    std::uint16_t channelPort = 0;
    bool padClientConnected = false;
};

// The menu for this content, or null when the system refuses a menu. The caller destroys it.
HMENU buildTrayMenu(const TrayMenuContent& content);

// Right-button tracking, aligned as the system drops menus (SM_MENUDROPALIGNMENT).
UINT trayMenuTrackFlags(int menuDropAlignment);

// Opens the menu at the cursor, owned by `owner`, and returns when it closes. The chosen
// command reaches `owner` afterwards as WM_COMMAND.
void showTrayMenu(HWND owner, const TrayMenuContent& content);

}  // namespace pellvane::shell::win32
