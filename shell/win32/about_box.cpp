#include "shell/win32/about_box.h"

#include "shell/win32/resource_ids.h"

namespace pellvane::shell::win32 {

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND: {
            const int command = LOWORD(wParam);
            if (command == IDOK || command == IDCANCEL) {
                ::EndDialog(dialog, command);
                return TRUE;
            }
            break;
        }
        default:
            break;
    }
    return FALSE;
}

INT_PTR showAboutBox(HINSTANCE instance, HWND owner) {
    return ::DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, aboutDialogProc, 0);
}

}  // namespace pellvane::shell::win32
