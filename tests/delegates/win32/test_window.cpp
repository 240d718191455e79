#include "tests/delegates/win32/test_window.h"

namespace pellvane::testing {
namespace {

constexpr wchar_t className[] = L"PellvaneKeyTestWindow";

bool runningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

bool windowsUnavailable() {
    return runningUnderWine() && GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) == 0;
}

TestWindow::TestWindow() {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = &TestWindow::procedure;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = className;
    RegisterClassW(&windowClass);  // fails harmlessly when a previous test registered it
    window_ = CreateWindowExW(0, className, L"Pellvane key test", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                              100, 100, 320, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window_ != nullptr) {
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }
}

TestWindow::~TestWindow() {
    if (window_ != nullptr) {
        DestroyWindow(window_);
        pump(std::chrono::milliseconds(50));
    }
}

bool TestWindow::bringToFront() {
    if (window_ == nullptr) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        ShowWindow(window_, SW_SHOWNORMAL);
        SetForegroundWindow(window_);
        SetFocus(window_);
        pump(std::chrono::milliseconds(50));
        if (GetForegroundWindow() == window_ && GetFocus() == window_) {
            return true;
        }
    }
    return false;
}

void TestWindow::pump(std::chrono::milliseconds duration) {
    const auto deadline = std::chrono::steady_clock::now() + duration;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        Sleep(5);
    } while (std::chrono::steady_clock::now() < deadline);
}

LRESULT CALLBACK TestWindow::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TestWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr) {
        switch (message) {
            case WM_KEYDOWN:
            case WM_KEYUP:
            case WM_SYSKEYDOWN:
            case WM_SYSKEYUP: {
                const auto bits = static_cast<unsigned long>(lParam);
                self->keys.push_back({message, wParam, (bits >> 16) & 0xFF, ((bits >> 24) & 1) != 0,
                                      ((bits >> 31) & 1) != 0});
                return 0;
            }
            case WM_CHAR:
                self->characters.push_back(static_cast<wchar_t>(wParam));
                return 0;
            default:
                break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace pellvane::testing
