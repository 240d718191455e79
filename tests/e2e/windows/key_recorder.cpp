#include "key_recorder.h"

#include <windows.h>

#include <cstdio>

namespace pellvane::e2e {

namespace {

constexpr UINT_PTR readyTimer = 1;
constexpr UINT_PTR endTimer = 2;

struct Recording {
    std::FILE* file = nullptr;
    bool ready = false;
};

Recording& recording() {
    static Recording instance;
    return instance;
}

void writeLine(const char* line) {
    std::fputs(line, recording().file);
    std::fputc('\n', recording().file);
    std::fflush(recording().file);
}

void writeKey(bool down, LPARAM lParam) {
    const unsigned scanCode = (static_cast<unsigned>(lParam) >> 16) & 0xFF;
    const bool extended = ((static_cast<unsigned>(lParam) >> 24) & 1) != 0;
    char line[32];
    std::snprintf(line, sizeof(line), "%s %02x%s", down ? "down" : "up", scanCode,
                  extended ? "e" : "");
    writeLine(line);
}

LRESULT CALLBACK recorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            writeKey(true, lParam);
            return 0;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            writeKey(false, lParam);
            return 0;
        case WM_TIMER:
            if (wParam == endTimer) {
                ::DestroyWindow(window);
            } else if (!recording().ready && ::GetForegroundWindow() == window) {
                recording().ready = true;
                writeLine("ready");
            } else if (!recording().ready) {
                ::SetForegroundWindow(window);
            }
            return 0;
        case WM_DESTROY:
            ::PostQuitMessage(0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

bool recordKeys(const std::wstring& path, std::chrono::milliseconds duration) {
    recording().file = _wfopen(path.c_str(), L"w");
    if (recording().file == nullptr) {
        return false;
    }
    HINSTANCE instance = ::GetModuleHandleW(nullptr);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = recorderProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"PellvaneKeyRecorder";
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    ::RegisterClassW(&windowClass);
    HWND window = ::CreateWindowExW(0, windowClass.lpszClassName, keyRecorderTitle,
                                    WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 200, nullptr,
                                    nullptr, instance, nullptr);
    if (window == nullptr) {
        std::fclose(recording().file);
        return false;
    }
    ::SetForegroundWindow(window);
    ::SetFocus(window);
    ::SetTimer(window, readyTimer, 100, nullptr);
    ::SetTimer(window, endTimer, static_cast<UINT>(duration.count()), nullptr);
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    std::fclose(recording().file);
    return true;
}

}  // namespace pellvane::e2e
