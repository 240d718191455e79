#include <windows.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/dialogs.h"

namespace pellvane::dialogs {
namespace {

// The refusing button of a question: Cancel, or No where the box has no Cancel.
WPARAM refusingCommand(unsigned style) {
    return (style & buttonMask) == yesNo ? IDNO : IDCANCEL;
}

BOOL CALLBACK refuseIfMessageBox(HWND window, LPARAM command) {
    wchar_t className[16] = {};
    // Message boxes are dialogs of the system's dialog class; the thread owns no other one
    // while it waits in MessageBox.
    if (GetClassNameW(window, className, 16) > 0 && lstrcmpW(className, L"#32770") == 0) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(command), BN_CLICKED), 0);
    }
    return TRUE;
}

class Win32Dialogs final : public Dialogs {
  public:
    int messageBox(const char* text, const char* caption, unsigned style) override {
        const Asking asking(*this, style);
        return MessageBoxA(nullptr, text, caption, style);
    }

    int messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) override {
        const Asking asking(*this, style);
        return MessageBoxW(nullptr, text, caption, style);
    }

    // The box has no owner window, so it is found among the windows of the thread that
    // waits in it, and answered as a click on its refusing button would be.
    void closeQuestions() override {
        std::vector<Question> open;
        {
            std::lock_guard guard(lock_);
            open = questions_;
        }
        for (const Question& question : open) {
            EnumThreadWindows(question.thread, refuseIfMessageBox,
                              static_cast<LPARAM>(question.refusal));
        }
    }

  private:
    struct Question {
        DWORD thread = 0;
        WPARAM refusal = IDCANCEL;
        friend bool operator==(const Question&, const Question&) = default;
    };

    // Notes the calling thread as one that waits in a question for as long as it lives.
    class Asking {
      public:
        Asking(Win32Dialogs& owner, unsigned style) : owner_(owner) {
            if ((style & buttonMask) != okOnly) {
                question_ = {GetCurrentThreadId(), refusingCommand(style)};
                std::lock_guard guard(owner_.lock_);
                owner_.questions_.push_back(question_);
            }
        }
        ~Asking() {
            std::lock_guard guard(owner_.lock_);
            auto& questions = owner_.questions_;
            const auto found = std::find(questions.begin(), questions.end(), question_);
            if (found != questions.end()) {
                questions.erase(found);
            }
        }
        Asking(const Asking&) = delete;
        Asking& operator=(const Asking&) = delete;

      private:
        Win32Dialogs& owner_;
        Question question_;
    };

    std::mutex lock_;  // guards questions_
    std::vector<Question> questions_;
};

}  // namespace

std::unique_ptr<Dialogs> createSystemDialogs() {
    return std::make_unique<Win32Dialogs>();
}

}  // namespace pellvane::dialogs
