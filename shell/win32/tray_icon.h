// The notification-area icon of the hidden window: one record, added at start-up, added
// again when Explorer restarts, deleted at shutdown.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

namespace pellvane::shell::win32 {

// The message the shell sends to the window for mouse and keyboard actions on the icon.
inline constexpr UINT trayCallbackMessage = 1337;
inline constexpr UINT trayIconId = 0;
inline constexpr UINT trayIconFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_GUID;  // 0x27
// {883522CE-E7A0-4AEA-A4F7-AEA77871413C}
inline constexpr GUID trayIconGuid = {
    0x883522CE, 0xE7A0, 0x4AEA, {0xA4, 0xF7, 0xAE, 0xA7, 0x78, 0x71, 0x41, 0x3C}};

class TrayIcon {
  public:
    // Clears the record and fills it for `window`. The size is the first version's, which
    // every shell reads: it covers the members up to a 64-character tip.
    void prepare(HWND window, HICON icon, const wchar_t* tip);
    bool add();
    bool remove();
    const NOTIFYICONDATAW& record() const { return record_; }

  private:
    NOTIFYICONDATAW record_{};
};

}  // namespace pellvane::shell::win32
