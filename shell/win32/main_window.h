// The hidden top-level window: its class, the window itself with its tray icon, and the
// window procedure that turns tray clicks and menu commands into actions. One per process;
// everything here runs on the main thread.
#pragma once

#include <windows.h>

#include "shell/win32/tray_actions.h"

namespace pellvane::shell::win32 {

// Room for the window title and the class name, each loaded from the string table.
inline constexpr int resourceTextCapacity = 100;

// Loads string 103 (the title, also the message-box caption) and 109 (the class name).
void loadWindowTexts(HINSTANCE instance);
const wchar_t* windowTitle();
const wchar_t* windowClassName();

// The class registration's result is not needed: a failed registration shows up as a
// window that cannot be created.
void registerWindowClass(HINSTANCE instance);
// Creates the hidden window and adds the tray icon; false when the window cannot be
// created. `actions` must outlive the window.
bool createMainWindow(HINSTANCE instance, TrayActions& actions);
// Deletes the tray icon; called once the message loop has ended.
void removeTrayIcon();

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace pellvane::shell::win32
