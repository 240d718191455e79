// Finding the server's windows from outside, as a user would see them: top-level windows
// by class and caption, and the text a message box shows.
#pragma once

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace pellvane::e2e {

struct WindowQuery {
    std::wstring className;     // empty: any class
    std::wstring caption;       // empty: any caption
    std::wstring textFragment;  // empty: any text; else a child static control must hold it
    bool visibleOnly = true;
};

std::wstring windowText(HWND window);
std::wstring windowClass(HWND window);
// The texts of a dialog's static children, joined by newlines: a message box's message.
std::wstring dialogText(HWND dialog);

HWND findTopLevelWindow(const WindowQuery& query);
// Polls until the window appears; null after `timeout`.
HWND waitForTopLevelWindow(const WindowQuery& query, std::chrono::milliseconds timeout);

}  // namespace pellvane::e2e
