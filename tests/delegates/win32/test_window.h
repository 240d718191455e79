// A real window of this test program that can be brought to the front and records the
// keyboard messages that reach it.
#pragma once

#include <windows.h>

#include <chrono>
#include <vector>

namespace pellvane::testing {

// Under Wine, windows need an X display; without one the window tests are skipped.
bool windowsUnavailable();

struct KeyMessage {
    UINT message = 0;
    WPARAM virtualKey = 0;
    unsigned scanCode = 0;
    bool extended = false;
    bool released = false;
    bool operator==(const KeyMessage&) const = default;
};

class TestWindow {
  public:
    TestWindow();
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND handle() const { return window_; }
    // True once the window is the foreground window with the keyboard focus.
    bool bringToFront();
    // Dispatches this thread's messages for the given time.
    void pump(std::chrono::milliseconds duration);

    std::vector<KeyMessage> keys;
    std::vector<wchar_t> characters;

  private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_ = nullptr;
};

}  // namespace pellvane::testing
