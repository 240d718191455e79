// The about box of the window menu's "&?" entry and the Alt+? accelerator.
#pragma once

#include <windows.h>

namespace pellvane::shell::win32 {

INT_PTR CALLBACK aboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Runs dialog 103 modally; returns the button that closed it (IDOK or IDCANCEL).
INT_PTR showAboutBox(HINSTANCE instance, HWND owner);

}  // namespace pellvane::shell::win32
