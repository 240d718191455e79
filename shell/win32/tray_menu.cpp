#include "shell/win32/tray_menu.h"

#include <cwchar>

#include "shell/win32/resource_ids.h"

namespace pellvane::shell::win32 {

namespace {
constexpr std::size_t portLineCapacity = 1024;
}

HMENU buildTrayMenu(const TrayMenuContent& content) {
    HMENU menu = ::CreatePopupMenu();
    if (menu == nullptr) {
        return nullptr;
    }
    wchar_t portLine[portLineCapacity] = {};
    std::swprintf(portLine, portLineCapacity, L"Channel server port: %d",
                  static_cast<int>(content.channelPort));
    ::AppendMenuW(menu, MF_STRING | MF_GRAYED, IDM_CHANNEL_PORT, portLine);
    ::AppendMenuW(menu, MF_SEPARATOR, IDM_SEPARATOR, L"Separator");
    if (content.padClientConnected) {
        ::AppendMenuW(menu, MF_STRING, IDM_DISCONNECT, L"&Disconnect");
    }
    ::AppendMenuW(menu, MF_STRING, IDM_EXIT, L"&Quit");
    return menu;
}

UINT trayMenuTrackFlags(int menuDropAlignment) {
    return menuDropAlignment != 0 ? (TPM_RIGHTBUTTON | TPM_RIGHTALIGN)
                                  : (TPM_RIGHTBUTTON | TPM_LEFTALIGN);
}

void showTrayMenu(HWND owner, const TrayMenuContent& content) {
    HMENU menu = buildTrayMenu(content);
    if (menu == nullptr) {
        return;
    }
    POINT cursor{};
    ::GetCursorPos(&cursor);
    const UINT flags = trayMenuTrackFlags(::GetSystemMetrics(SM_MENUDROPALIGNMENT));
    // A menu of a background window only closes on an outside click when its owner is in
    // front, and the null message lets the shell see the menu end (Microsoft KB 135788).
    ::SetForegroundWindow(owner);
    ::TrackPopupMenu(menu, flags, cursor.x, cursor.y, 0, owner, nullptr);
    ::PostMessageW(owner, WM_NULL, 0, 0);
    ::DestroyMenu(menu);
}

}  // namespace pellvane::shell::win32
