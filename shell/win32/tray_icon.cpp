#include "shell/win32/tray_icon.h"

#include <cwchar>

namespace pellvane::shell::win32 {

namespace {
constexpr std::size_t tipLimit = 128;
}

void TrayIcon::prepare(HWND window, HICON icon, const wchar_t* tip) {
    record_ = NOTIFYICONDATAW{};
    record_.cbSize = NOTIFYICONDATAW_V1_SIZE;
    record_.hWnd = window;
    record_.uID = trayIconId;
    record_.uFlags = trayIconFlags;
    record_.uCallbackMessage = trayCallbackMessage;
    record_.hIcon = icon;
    static_assert(sizeof(record_.szTip) / sizeof(record_.szTip[0]) == tipLimit);
    std::wcsncpy(record_.szTip, tip, tipLimit - 1);
    record_.guidItem = trayIconGuid;
}

bool TrayIcon::add() {
    return ::Shell_NotifyIconW(NIM_ADD, &record_) != FALSE;
}

bool TrayIcon::remove() {
    return ::Shell_NotifyIconW(NIM_DELETE, &record_) != FALSE;
}

}  // namespace pellvane::shell::win32
