// Modal message boxes with no owner window. Windows shows MessageBoxA/MessageBoxW; the
// POSIX build writes "Pellvane Server: " and the text to standard error and, for a box
// that asks a question, reads the answer as one line of standard input (on a desktop,
// platform/posix/dialog_program.h shows them with a dialog program instead). A question can
// be withdrawn from another thread.
#pragma once

#include <memory>

namespace pellvane::dialogs {

// Style flags and answers, with the values Windows gives them.
inline constexpr unsigned okOnly = 0x0;
inline constexpr unsigned okCancel = 0x1;
inline constexpr unsigned yesNoCancel = 0x3;
inline constexpr unsigned yesNo = 0x4;
inline constexpr unsigned buttonMask = 0xF;
inline constexpr unsigned iconError = 0x10;
inline constexpr unsigned iconQuestion = 0x20;
inline constexpr unsigned iconWarning = 0x30;
inline constexpr unsigned iconInformation = 0x40;
inline constexpr unsigned defaultButton2 = 0x100;
inline constexpr unsigned setForeground = 0x10000;
inline constexpr unsigned topmost = 0x40000;

// 0 means the box could not be shown.
inline constexpr int boxFailed = 0;
inline constexpr int answerOk = 1;
inline constexpr int answerCancel = 2;
inline constexpr int answerYes = 6;
inline constexpr int answerNo = 7;

// Whether a box of `style` asks something, and its buttons that agree and that refuse
// (Cancel, or No where there is no Cancel).
inline bool asksQuestion(unsigned style) {
    return (style & buttonMask) != okOnly;
}
inline int agreeingButton(unsigned style) {
    const unsigned buttons = style & buttonMask;
    return buttons == yesNo || buttons == yesNoCancel ? answerYes : answerOk;
}
inline int refusingButton(unsigned style) {
    return (style & buttonMask) == yesNo ? answerNo : answerCancel;
}

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // 8-bit text in the system's ANSI code page (MessageBoxA); the button chosen.
    virtual int messageBox(const char* text, const char* caption, unsigned style) = 0;
    // Wide text (MessageBoxW); the button chosen.
    virtual int messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) = 0;
    // Closes every question that this object has on screen as if it were refused (Cancel,
    // or No where there is no Cancel), from any thread, and returns at once. Questions put
    // afterwards are asked as usual.
    virtual void closeQuestions() = 0;
};

std::unique_ptr<Dialogs> createSystemDialogs();

}  // namespace pellvane::dialogs
