// On a terminal a box is a line on standard error and a question is answered by one line
// of standard input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/dialogs.h"

namespace pellvane::testing {
namespace {

constexpr unsigned promptStyle = 0x50121;

// Puts `input` (or a closed descriptor) in place of standard input for the test.
class RedirectedInput {
  public:
    explicit RedirectedInput(const std::string& input, bool closed = false) {
        saved_ = ::dup(STDIN_FILENO);
        if (closed) {
            ::close(STDIN_FILENO);
            return;
        }
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        // Small inputs fit the pipe buffer, so the whole input can be written up front.
        [[maybe_unused]] const ssize_t written = ::write(fds[1], input.data(), input.size());
        ::close(fds[1]);
        ::dup2(fds[0], STDIN_FILENO);
        ::close(fds[0]);
    }
    ~RedirectedInput() {
        ::dup2(saved_, STDIN_FILENO);
        ::close(saved_);
    }
    RedirectedInput(const RedirectedInput&) = delete;
    RedirectedInput& operator=(const RedirectedInput&) = delete;

    // What is left unread.
    std::string rest() const {
        std::string left;
        char buffer[256];
        ssize_t got = 0;
        while ((got = ::read(STDIN_FILENO, buffer, sizeof buffer)) > 0) {
            left.append(buffer, static_cast<std::size_t>(got));
        }
        return left;
    }

  private:
    int saved_ = -1;
};

int ask(dialogs::Dialogs& dialogs, const char* text, std::string* shown = nullptr) {
    ::testing::internal::CaptureStderr();
    const int answer = dialogs.messageBox(text, "Pellvane Server", promptStyle);
    const std::string output = ::testing::internal::GetCapturedStderr();
    if (shown != nullptr) {
        *shown = output;
    }
    return answer;
}

TEST(TerminalDialogs, QuestionIsOneLineOnStandardErrorAnsweredByOneLine) {
    auto dialogs = dialogs::createSystemDialogs();
    RedirectedInput input("y\nsecond line\n");
    std::string shown;
    EXPECT_EQ(ask(*dialogs, "pad requested to connect, accept connection?", &shown),
              dialogs::answerOk);
    EXPECT_EQ(shown, "Pellvane Server: pad requested to connect, accept connection? [y/N] ");
    EXPECT_EQ(input.rest(), "second line\n");
}

TEST(TerminalDialogs, AgreementWordsInAnyCaseAdmit) {
    auto dialogs = dialogs::createSystemDialogs();
    RedirectedInput input("y\nYES\n Ok \nyes\r\nY");
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerOk) << i;
    }
}

TEST(TerminalDialogs, AnythingElseOrNoInputRefuses) {
    auto dialogs = dialogs::createSystemDialogs();
    {
        RedirectedInput input("n\n\nyess\nmaybe yes\n" + std::string(1000, 'y') + "\n");
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerCancel) << i;
        }
        EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerCancel);  // end of input
    }
    {
        RedirectedInput closed("", true);
        EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerCancel);
    }
}

TEST(TerminalDialogs, YesNoQuestionAnswersYesOrNo) {
    auto dialogs = dialogs::createSystemDialogs();
    RedirectedInput input("yes\nno\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(dialogs->messageBox("q", "c", dialogs::yesNo), dialogs::answerYes);
    EXPECT_EQ(dialogs->messageBox("q", "c", dialogs::yesNo), dialogs::answerNo);
    ::testing::internal::GetCapturedStderr();
}

TEST(TerminalDialogs, PlainBoxIsALineAndReadsNothing) {
    auto dialogs = dialogs::createSystemDialogs();
    RedirectedInput input("y\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(dialogs->messageBox(L"Pellvane Server could not start the Channel Server.",
                                  L"Pellvane Server", dialogs::iconError),
              dialogs::answerOk);
    EXPECT_EQ(dialogs->messageBox("An instance of Pellvane Server is already running.",
                                  "Pellvane Server", dialogs::iconInformation),
              dialogs::answerOk);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Pellvane Server: Pellvane Server could not start the Channel Server.\n"
              "Pellvane Server: An instance of Pellvane Server is already running.\n");
    EXPECT_EQ(input.rest(), "y\n");
}

}  // namespace
}  // namespace pellvane::testing
