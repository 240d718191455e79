#include "window_search.h"

#include <thread>

namespace pellvane::e2e {

namespace {

struct Search {
    const WindowQuery* query;
    HWND found;
};

bool matches(HWND window, const WindowQuery& query) {
    if (query.visibleOnly && !::IsWindowVisible(window)) {
        return false;
    }
    if (!query.className.empty() && windowClass(window) != query.className) {
        return false;
    }
    if (!query.caption.empty() && windowText(window) != query.caption) {
        return false;
    }
    if (!query.textFragment.empty() &&
        dialogText(window).find(query.textFragment) == std::wstring::npos) {
        return false;
    }
    return true;
}

BOOL CALLBACK visitTopLevel(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    if (matches(window, *search->query)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK collectStaticText(HWND child, LPARAM context) {
    auto* text = reinterpret_cast<std::wstring*>(context);
    if (_wcsicmp(windowClass(child).c_str(), L"Static") == 0) {
        const std::wstring line = windowText(child);
        if (!line.empty()) {
            if (!text->empty()) {
                text->push_back(L'\n');
            }
            text->append(line);
        }
    }
    return TRUE;
}

}  // namespace

std::wstring windowText(HWND window) {
    // WM_GETTEXT rather than GetWindowText: the latter does not read other processes'
    // controls.
    wchar_t buffer[2048] = {};
    DWORD_PTR copied = 0;
    ::SendMessageTimeoutW(window, WM_GETTEXT, sizeof(buffer) / sizeof(buffer[0]),
                          reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG, 2000, &copied);
    return buffer;
}

std::wstring windowClass(HWND window) {
    wchar_t buffer[256] = {};
    ::GetClassNameW(window, buffer, sizeof(buffer) / sizeof(buffer[0]));
    return buffer;
}

std::wstring dialogText(HWND dialog) {
    std::wstring text;
    ::EnumChildWindows(dialog, collectStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

HWND findTopLevelWindow(const WindowQuery& query) {
    Search search{&query, nullptr};
    ::EnumWindows(visitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND waitForTopLevelWindow(const WindowQuery& query, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (HWND window = findTopLevelWindow(query)) {
            return window;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

}  // namespace pellvane::e2e
