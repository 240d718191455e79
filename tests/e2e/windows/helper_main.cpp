// pellvane-e2e-helper: the user's hands in the Windows end-to-end tests. Each command does
// one thing to the server's windows (or stands in for an application) and says what it
// saw on standard output; exit code 0 means the expected thing happened.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "key_recorder.h"
#include "window_search.h"

namespace {

using namespace std::chrono_literals;
using pellvane::e2e::WindowQuery;

constexpr int exitOk = 0;
constexpr int exitNotSeen = 1;
constexpr int exitUsage = 2;

constexpr wchar_t dialogClass[] = L"#32770";
constexpr wchar_t popupMenuClass[] = L"#32768";
constexpr wchar_t serverWindowClass[] = L"PELLVANE";
constexpr UINT trayCallbackMessage = 1337;

std::string utf8(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(),
                          size, nullptr, nullptr);
    return result;
}

void say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::chrono::milliseconds millisecondsArgument(const wchar_t* text) {
    return std::chrono::milliseconds(std::wcstol(text, nullptr, 10));
}

HWND serverWindow(std::chrono::milliseconds timeout) {
    WindowQuery query;
    query.className = serverWindowClass;
    query.visibleOnly = false;  // the server's window is hidden
    return pellvane::e2e::waitForTopLevelWindow(query, timeout);
}

WindowQuery boxQuery(const wchar_t* caption, const wchar_t* fragment) {
    WindowQuery query;
    query.className = dialogClass;
    query.caption = caption;
    query.textFragment = fragment;
    return query;
}

// answer-box CAPTION TEXT ok|cancel TIMEOUT_MS: waits for a box showing TEXT and presses
// the button; prints the box's whole text.
int answerBox(const std::vector<std::wstring>& args) {
    if (args.size() != 4 || (args[2] != L"ok" && args[2] != L"cancel")) {
        return exitUsage;
    }
    HWND box = pellvane::e2e::waitForTopLevelWindow(boxQuery(args[0].c_str(), args[1].c_str()),
                                                    millisecondsArgument(args[3].c_str()));
    if (box == nullptr) {
        say("no box");
        return exitNotSeen;
    }
    say("box: " + utf8(pellvane::e2e::dialogText(box)));
    const WPARAM button = args[2] == L"ok" ? IDOK : IDCANCEL;
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    return exitOk;
}

// find-box CAPTION TEXT TIMEOUT_MS: waits for a box showing TEXT and leaves it open.
int findBox(const std::vector<std::wstring>& args) {
    if (args.size() != 3) {
        return exitUsage;
    }
    HWND box = pellvane::e2e::waitForTopLevelWindow(boxQuery(args[0].c_str(), args[1].c_str()),
                                                    millisecondsArgument(args[2].c_str()));
    if (box == nullptr) {
        say("no box");
        return exitNotSeen;
    }
    say("box: " + utf8(pellvane::e2e::dialogText(box)));
    return exitOk;
}

// expect-no-box CAPTION TEXT MS: succeeds when no such box appears within MS.
int expectNoBox(const std::vector<std::wstring>& args) {
    if (args.size() != 3) {
        return exitUsage;
    }
    HWND box = pellvane::e2e::waitForTopLevelWindow(boxQuery(args[0].c_str(), args[1].c_str()),
                                                    millisecondsArgument(args[2].c_str()));
    if (box != nullptr) {
        say("unexpected box: " + utf8(pellvane::e2e::dialogText(box)));
        return exitNotSeen;
    }
    say("no box");
    return exitOk;
}

// server-window TIMEOUT_MS: prints the hidden window's handle and title.
int findServerWindow(const std::vector<std::wstring>& args) {
    if (args.size() != 1) {
        return exitUsage;
    }
    HWND window = serverWindow(millisecondsArgument(args[0].c_str()));
    if (window == nullptr) {
        say("no window");
        return exitNotSeen;
    }
    char line[64];
    std::snprintf(line, sizeof(line), "window %llx visible %d",
                  static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(window)),
                  ::IsWindowVisible(window) ? 1 : 0);
    say(line);
    say("title " + utf8(pellvane::e2e::windowText(window)));
    return exitOk;
}

HWND handleArgument(const std::wstring& text) {
    return reinterpret_cast<HWND>(
        static_cast<std::uintptr_t>(std::wcstoull(text.c_str(), nullptr, 16)));
}

// tray-icon HWND: "present" when the shell knows an icon 0 of that window. Modifying an
// icon succeeds only while it exists, and a modification without flags changes nothing.
int probeTrayIcon(const std::vector<std::wstring>& args) {
    if (args.size() != 1) {
        return exitUsage;
    }
    NOTIFYICONDATAW record{};
    record.cbSize = NOTIFYICONDATAW_V1_SIZE;
    record.hWnd = handleArgument(args[0]);
    record.uID = 0;
    const bool present = ::Shell_NotifyIconW(NIM_MODIFY, &record) != FALSE;
    say(present ? "present" : "absent");
    return exitOk;
}

// tray-delete HWND: deletes icon 0 of that window, as a restarting shell loses it.
int deleteTrayIcon(const std::vector<std::wstring>& args) {
    if (args.size() != 1) {
        return exitUsage;
    }
    NOTIFYICONDATAW record{};
    record.cbSize = NOTIFYICONDATAW_V1_SIZE;
    record.hWnd = handleArgument(args[0]);
    record.uID = 0;
    const bool deleted = ::Shell_NotifyIconW(NIM_DELETE, &record) != FALSE;
    say(deleted ? "deleted" : "not deleted");
    return deleted ? exitOk : exitNotSeen;
}

// post-command ID, post-tray EVENT, post-taskbar-created: messages to the hidden window.
int postToServer(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = serverWindow(5s);
    if (window == nullptr) {
        say("no window");
        return exitNotSeen;
    }
    return ::PostMessageW(window, message, wParam, lParam) ? exitOk : exitNotSeen;
}

// activate CLASS TIMEOUT_MS: brings the first visible window of CLASS to the front.
int activate(const std::vector<std::wstring>& args) {
    if (args.size() != 2) {
        return exitUsage;
    }
    WindowQuery query;
    query.className = args[0];
    HWND window =
        pellvane::e2e::waitForTopLevelWindow(query, millisecondsArgument(args[1].c_str()));
    if (window == nullptr) {
        say("no window");
        return exitNotSeen;
    }
    ::SetForegroundWindow(window);
    for (int attempt = 0; attempt < 50 && ::GetForegroundWindow() != window; ++attempt) {
        ::Sleep(100);
        ::SetForegroundWindow(window);
    }
    const bool inFront = ::GetForegroundWindow() == window;
    say(inFront ? "in front" : "not in front");
    return inFront ? exitOk : exitNotSeen;
}

// wait-menu TIMEOUT_MS: succeeds once a popup menu is open.
int waitMenu(const std::vector<std::wstring>& args) {
    if (args.size() != 1) {
        return exitUsage;
    }
    WindowQuery query;
    query.className = popupMenuClass;
    HWND menu = pellvane::e2e::waitForTopLevelWindow(query, millisecondsArgument(args[0].c_str()));
    say(menu != nullptr ? "menu open" : "no menu");
    return menu != nullptr ? exitOk : exitNotSeen;
}

// expect-no-menu MS: succeeds once no popup menu is open, within MS.
int expectNoMenu(const std::vector<std::wstring>& args) {
    if (args.size() != 1) {
        return exitUsage;
    }
    WindowQuery query;
    query.className = popupMenuClass;
    const auto deadline = std::chrono::steady_clock::now() + millisecondsArgument(args[0].c_str());
    while (pellvane::e2e::findTopLevelWindow(query) != nullptr) {
        if (std::chrono::steady_clock::now() >= deadline) {
            say("menu still open");
            return exitNotSeen;
        }
        ::Sleep(100);
    }
    say("no menu");
    return exitOk;
}

// press-key VK...: each virtual key pressed and released, as a user would type it.
int pressKeys(const std::vector<std::wstring>& args) {
    if (args.empty()) {
        return exitUsage;
    }
    for (const std::wstring& key : args) {
        INPUT input[2] = {};
        input[0].type = INPUT_KEYBOARD;
        input[0].ki.wVk = static_cast<WORD>(std::wcstoul(key.c_str(), nullptr, 16));
        input[1] = input[0];
        input[1].ki.dwFlags = KEYEVENTF_KEYUP;
        ::SendInput(2, input, sizeof(INPUT));
        ::Sleep(100);
    }
    return exitOk;
}

// foreground: the class and title of the window in front, for diagnosis.
int describeForeground() {
    HWND window = ::GetForegroundWindow();
    if (window == nullptr) {
        say("none");
        return exitOk;
    }
    say("class " + utf8(pellvane::e2e::windowClass(window)) + " title " +
        utf8(pellvane::e2e::windowText(window)));
    return exitOk;
}

int usage() {
    std::fputs(
        "usage: pellvane-e2e-helper COMMAND ARGS\n"
        "  answer-box CAPTION TEXT ok|cancel TIMEOUT_MS\n"
        "  find-box CAPTION TEXT TIMEOUT_MS | expect-no-box CAPTION TEXT MS\n"
        "  server-window TIMEOUT_MS\n"
        "  tray-icon HWND | tray-delete HWND\n"
        "  post-command ID | post-tray EVENT | post-taskbar-created\n"
        "  activate CLASS TIMEOUT_MS\n"
        "  wait-menu TIMEOUT_MS | expect-no-menu MS\n"
        "  press-key VK...\n"
        "  record-keys FILE MS\n"
        "  foreground\n",
        stderr);
    return exitUsage;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        return usage();
    }
    const std::wstring command = argv[1];
    const std::vector<std::wstring> args(argv + 2, argv + argc);
    if (command == L"answer-box") {
        return answerBox(args);
    }
    if (command == L"find-box") {
        return findBox(args);
    }
    if (command == L"expect-no-box") {
        return expectNoBox(args);
    }
    if (command == L"server-window") {
        return findServerWindow(args);
    }
    if (command == L"tray-icon") {
        return probeTrayIcon(args);
    }
    if (command == L"post-command" && args.size() == 1) {
        return postToServer(WM_COMMAND, std::wcstoul(args[0].c_str(), nullptr, 10), 0);
    }
    if (command == L"post-tray" && args.size() == 1) {
        return postToServer(trayCallbackMessage, 0, std::wcstol(args[0].c_str(), nullptr, 16));
    }
    if (command == L"post-taskbar-created" && args.empty()) {
        return postToServer(::RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    }
    if (command == L"activate") {
        return activate(args);
    }
    if (command == L"wait-menu") {
        return waitMenu(args);
    }
    if (command == L"tray-delete") {
        return deleteTrayIcon(args);
    }
    if (command == L"expect-no-menu") {
        return expectNoMenu(args);
    }
    if (command == L"press-key") {
        return pressKeys(args);
    }
    if (command == L"record-keys" && args.size() == 2) {
        return pellvane::e2e::recordKeys(args[0], millisecondsArgument(args[1].c_str()))
                   ? exitOk
                   : exitNotSeen;
    }
    if (command == L"foreground") {
        return describeForeground();
    }
    return usage();
}
