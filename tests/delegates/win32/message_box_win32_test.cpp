// The real message boxes: the admission question as the user sees it, its default button,
// and the answers.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "delegates/admission_prompt.h"
#include "platform/dialogs.h"
#include "server/wire_building.h"
#include "tests/delegates/win32/test_window.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

// The button drawn as the default, which Enter presses.
int defaultPushButton(HWND box) {
    for (int button : {IDOK, IDCANCEL}) {
        const HWND control = GetDlgItem(box, button);
        if (control != nullptr &&
            (GetWindowLongW(control, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON) {
            return button;
        }
    }
    return 0;
}

// Finds the box that the main thread shows and answers it with `button`.
class BoxAnswerer {
  public:
    explicit BoxAnswerer(int button)
        : thread_([this, button] {
              const auto deadline = std::chrono::steady_clock::now() + 10s;
              while (std::chrono::steady_clock::now() < deadline) {
                  HWND box = FindWindowW(L"#32770", L"Pellvane Server");
                  // The box is found while it is still being laid out: answer it once shown.
                  if (box != nullptr && IsWindowVisible(box) && defaultPushButton(box) != 0) {
                      defaultButton_ = defaultPushButton(box);
                      PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
                      return;
                  }
                  Sleep(20);
              }
          }) {}
    ~BoxAnswerer() { finish(); }
    BoxAnswerer(const BoxAnswerer&) = delete;
    BoxAnswerer& operator=(const BoxAnswerer&) = delete;

    // Waits for the answer to be given; the box's default button, 0 when no box was found.
    int finish() {
        if (thread_.joinable()) {
            thread_.join();
        }
        return defaultButton_.load();
    }

  private:
    std::atomic<int> defaultButton_{0};
    std::thread thread_;
};

class Win32MessageBox : public ::testing::Test {
  protected:
    void SetUp() override {
        if (windowsUnavailable()) {
            GTEST_SKIP() << "no X display for Wine's windows";
        }
    }
    std::unique_ptr<dialogs::Dialogs> dialogs = dialogs::createSystemDialogs();
};

TEST_F(Win32MessageBox, OkAdmitsAndCancelIsTheDefault) {
    BoxAnswerer answerer(IDOK);
    EXPECT_EQ(askToAdmit(*dialogs, wire::buildHello("Kitchen iPad")), 1);
    EXPECT_EQ(answerer.finish(), IDCANCEL);
}

TEST_F(Win32MessageBox, CancelRefuses) {
    BoxAnswerer answerer(IDCANCEL);
    EXPECT_EQ(askToAdmit(*dialogs, wire::buildHello("Stranger")), 0);
}

TEST_F(Win32MessageBox, FailureBoxIsDismissedWithOk) {
    BoxAnswerer answerer(IDOK);
    EXPECT_EQ(dialogs->messageBox(L"Pellvane Server could not start the Channel Server.",
                                  L"Pellvane Server", dialogs::iconError),
              dialogs::answerOk);
}

// Disconnect and Quit close the open question from another thread, as Cancel would.
TEST_F(Win32MessageBox, AClosedQuestionIsRefusedAtOnce) {
    AdmissionQuestions questions(*dialogs);
    std::thread closer([&] {
        while (FindWindowW(L"#32770", L"Pellvane Server") == nullptr) {
            Sleep(20);
        }
        questions.close();
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(questions.ask(wire::buildHello("Kitchen iPad")), 0);
    closer.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);      // not the answerer's timeout
    EXPECT_EQ(questions.ask(wire::buildHello("Kitchen iPad")), 0);  // closed: nobody is asked
}

}  // namespace
}  // namespace pellvane::testing
