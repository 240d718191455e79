#include "shell/win32/main_window.h"

#include "shell/win32/about_box.h"
#include "shell/win32/resource_ids.h"
#include "shell/win32/tray_icon.h"
#include "shell/win32/tray_menu.h"

namespace pellvane::shell::win32 {

namespace {

struct MainWindowState {
    HINSTANCE instance = nullptr;
    wchar_t title[resourceTextCapacity] = {};
    wchar_t className[resourceTextCapacity] = {};
    TrayIcon trayIcon;
    TrayActions* actions = nullptr;
    // Explorer broadcasts it when it (re)starts; the icon must then be added again, or the
    // user could no longer reach Quit.
    UINT taskbarCreatedMessage = 0;
};

MainWindowState& state() {
    static MainWindowState instance;
    return instance;
}

bool opensTrayMenu(LPARAM trayEvent) {
    switch (LOWORD(trayEvent)) {
        case WM_CONTEXTMENU:
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            return true;
        default:
            return false;
    }
}

void openTrayMenu(HWND window) {
    const TrayActions* actions = state().actions;
    TrayMenuContent content;
    if (actions != nullptr) {
        content.channelPort = actions->channelPort();
        content.padClientConnected = actions->padClientConnected();
    }
    showTrayMenu(window, content);
}

LRESULT onCommand(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
        case IDM_ABOUT:
            showAboutBox(state().instance, window);
            return 0;
        case IDM_DISCONNECT:
            if (state().actions != nullptr) {
                state().actions->disconnect();
            }
            return 0;
        case IDM_EXIT:
            ::DestroyWindow(window);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

void paintNothing(HWND window) {
    PAINTSTRUCT paint{};
    ::BeginPaint(window, &paint);
    ::EndPaint(window, &paint);
}

}  // namespace

void loadWindowTexts(HINSTANCE instance) {
    ::LoadStringW(instance, IDS_APP_TITLE, state().title, resourceTextCapacity);
    ::LoadStringW(instance, IDC_PELLVANE, state().className, resourceTextCapacity);
}

const wchar_t* windowTitle() {
    return state().title;
}

const wchar_t* windowClassName() {
    return state().className;
}

void registerWindowClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = mainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_PELLVANE));
    windowClass.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = MAKEINTRESOURCEW(IDC_PELLVANE);
    windowClass.lpszClassName = state().className;
    windowClass.hIconSm = ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    ::RegisterClassExW(&windowClass);
}

bool createMainWindow(HINSTANCE instance, TrayActions& actions) {
    MainWindowState& shell = state();
    shell.instance = instance;
    shell.actions = &actions;
    HWND window =
        ::CreateWindowExW(0, shell.className, shell.title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                          CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        shell.actions = nullptr;
        return false;
    }
    shell.taskbarCreatedMessage = ::RegisterWindowMessageW(L"TaskbarCreated");
    // Started as administrator, the program would otherwise never hear Explorer's
    // announcement: the system filters registered messages from less privileged senders.
    ::ChangeWindowMessageFilterEx(window, shell.taskbarCreatedMessage, MSGFLT_ALLOW, nullptr);
    shell.trayIcon.prepare(window, ::LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL)), shell.title);
    // Without a notification area (no shell yet) the icon arrives with TaskbarCreated.
    shell.trayIcon.add();
    ::ShowWindow(window, SW_HIDE);
    ::UpdateWindow(window);
    return true;
}

void removeTrayIcon() {
    state().trayIcon.remove();
    state().actions = nullptr;
}

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindowState& shell = state();
    if (message == shell.taskbarCreatedMessage && message != 0) {
        shell.trayIcon.add();
        return 0;
    }
    switch (message) {
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            paintNothing(window);
            return 0;
        case WM_COMMAND:
            return onCommand(window, message, wParam, lParam);
        case trayCallbackMessage:
            if (opensTrayMenu(lParam)) {
                openTrayMenu(window);
            }
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace pellvane::shell::win32
