// On a terminal a box is a line on standard error and a question is answered by one line
// of standard input, typed after the question was put.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <string>
#include <thread>

#include "delegates/admission_prompt.h"
#include "platform/dialogs.h"
#include "server/wire_building.h"

namespace pellvane::testing {
namespace {

constexpr unsigned promptStyle = 0x50121;
constexpr char questionEnd[] = "[y/N] ";

// The person at the terminal: reads standard error (a pipe) and types each answer into
// standard input (a pipe, or a pseudo-terminal) only once a new question has appeared.
// `typedAhead` is typed before anything is asked. Input ends when the answers run out, unless
// the last one is empty: that question is left unanswered.
class TerminalUser {
  public:
    enum class Input { pipe, terminal };

    explicit TerminalUser(std::deque<std::string> answers, const std::string& typedAhead = "",
                          Input input = Input::pipe)
        : answers_(std::move(answers)) {
        savedInput_ = ::dup(STDIN_FILENO);
        savedError_ = ::dup(STDERR_FILENO);
        int error[2];
        EXPECT_EQ(::pipe(error), 0);
        shownFd_ = error[0];
        ::dup2(error[1], STDERR_FILENO);
        ::close(error[1]);
        int reader = -1;
        if (input == Input::pipe) {
            int fds[2];
            EXPECT_EQ(::pipe(fds), 0);
            reader = fds[0];
            typedFd_ = fds[1];
        } else {
            const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
            EXPECT_GE(terminal, 0);
            EXPECT_EQ(::grantpt(terminal), 0);
            EXPECT_EQ(::unlockpt(terminal), 0);
            typedFd_ = terminal;
            reader = ::open(::ptsname(terminal), O_RDWR | O_NOCTTY);
        }
        ::dup2(reader, STDIN_FILENO);
        ::close(reader);
        if (!typedAhead.empty()) {
            EXPECT_EQ(::write(typedFd_, typedAhead.data(), typedAhead.size()),
                      static_cast<ssize_t>(typedAhead.size()));
            pollfd waiting{STDIN_FILENO, POLLIN, 0};  // a terminal passes it on in its own time
            EXPECT_EQ(::poll(&waiting, 1, 5000), 1);
        }
        if (answers_.empty()) {
            endInput();
        }
        watcher_ = std::thread([this] { watch(); });
    }

    ~TerminalUser() { finish(); }
    TerminalUser(const TerminalUser&) = delete;
    TerminalUser& operator=(const TerminalUser&) = delete;

    // Puts the terminal back; everything that standard error showed.
    std::string finish() {
        if (watcher_.joinable()) {
            ::dup2(savedError_, STDERR_FILENO);  // the pipe's last writer goes: the watcher ends
            watcher_.join();
            ::dup2(savedInput_, STDIN_FILENO);
            ::close(savedError_);
            ::close(savedInput_);
            ::close(shownFd_);
            endInput();
        }
        return shown_;
    }

    // What standard input still holds once the answers have run out (pipe only).
    static std::string unread() {
        std::string left;
        char buffer[256];
        ssize_t got = 0;
        while ((got = ::read(STDIN_FILENO, buffer, sizeof buffer)) > 0) {
            left.append(buffer, static_cast<std::size_t>(got));
        }
        return left;
    }

  private:
    // Each new question gets the next answer.
    void watch() {
        char chunk[256];
        ssize_t got = 0;
        std::size_t unanswered = 0;  // where the next question is looked for
        while ((got = ::read(shownFd_, chunk, sizeof chunk)) > 0) {
            shown_.append(chunk, static_cast<std::size_t>(got));
            std::size_t asked = 0;
            while (!answers_.empty() &&
                   (asked = shown_.find(questionEnd, unanswered)) != std::string::npos) {
                unanswered = asked + 1;
                const std::string answer = answers_.front();
                answers_.pop_front();
                EXPECT_EQ(::write(typedFd_, answer.data(), answer.size()),
                          static_cast<ssize_t>(answer.size()));
                if (answers_.empty() && !answer.empty()) {
                    endInput();
                }
            }
        }
    }

    void endInput() {
        if (typedFd_ >= 0) {
            ::close(typedFd_);
            typedFd_ = -1;
        }
    }

    std::deque<std::string> answers_;
    std::string shown_;
    int savedInput_ = -1;
    int savedError_ = -1;
    int shownFd_ = -1;
    int typedFd_ = -1;  // typed ahead before the watcher starts, then the watcher's until joined
    std::thread watcher_;
};

int ask(dialogs::Dialogs& dialogs, const char* text, unsigned style = promptStyle) {
    return dialogs.messageBox(text, "Pellvane Server", style);
}

TEST(TerminalDialogs, QuestionIsOneLineOnStandardErrorAnsweredByOneLine) {
    auto dialogs = dialogs::createSystemDialogs();
    TerminalUser user({"y\nsecond line\n"});
    EXPECT_EQ(ask(*dialogs, "pad requested to connect, accept connection?"), dialogs::answerOk);
    EXPECT_EQ(TerminalUser::unread(), "second line\n");
    EXPECT_EQ(user.finish(),
              "Pellvane Server: pad requested to connect, accept connection? [y/N] ");
}

TEST(TerminalDialogs, AgreementWordsInAnyCaseAdmit) {
    auto dialogs = dialogs::createSystemDialogs();
    TerminalUser user({"y\n", "YES\n", " Ok \n", "yes\r\n", "Y"});
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerOk) << i;
    }
}

TEST(TerminalDialogs, AnythingElseOrNoInputRefuses) {
    auto dialogs = dialogs::createSystemDialogs();
    {
        TerminalUser user({"n\n", "\n", "yess\n", "maybe yes\n", std::string(1000, 'y') + "\n"});
        for (int i = 0; i < 5; ++i) {
            EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerCancel) << i;
        }
        EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerCancel);  // end of input
    }
    TerminalUser user({});
    const int saved = ::dup(STDIN_FILENO);
    ::close(STDIN_FILENO);
    EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerCancel);
    ::dup2(saved, STDIN_FILENO);
    ::close(saved);
}

// A "y" typed at the idle program, or left over from an earlier answer, must not admit a
// device whose question nobody has seen yet.
TEST(TerminalDialogs, OnlyAnAnswerTypedAfterTheQuestionCounts) {
    auto dialogs = dialogs::createSystemDialogs();
    for (const auto input : {TerminalUser::Input::pipe, TerminalUser::Input::terminal}) {
        TerminalUser user({"no\n"}, "y\n", input);
        EXPECT_EQ(ask(*dialogs, "q"), dialogs::answerCancel);
    }
}

TEST(TerminalDialogs, YesNoQuestionAnswersYesOrNo) {
    auto dialogs = dialogs::createSystemDialogs();
    TerminalUser user({"yes\n", "no\n"});
    EXPECT_EQ(ask(*dialogs, "q", dialogs::yesNo), dialogs::answerYes);
    EXPECT_EQ(ask(*dialogs, "q", dialogs::yesNo), dialogs::answerNo);
}

TEST(TerminalDialogs, PlainBoxIsALineAndReadsNothing) {
    auto dialogs = dialogs::createSystemDialogs();
    TerminalUser user({}, "typed\n");
    EXPECT_EQ(dialogs->messageBox(L"Pellvane Server could not start the Channel Server.",
                                  L"Pellvane Server", dialogs::iconError),
              dialogs::answerOk);
    EXPECT_EQ(dialogs->messageBox("An instance of Pellvane Server is already running.",
                                  "Pellvane Server", dialogs::iconInformation),
              dialogs::answerOk);
    EXPECT_EQ(TerminalUser::unread(), "typed\n");
    EXPECT_EQ(user.finish(),
              "Pellvane Server: Pellvane Server could not start the Channel Server.\n"
              "Pellvane Server: An instance of Pellvane Server is already running.\n");
}

// A device name that carries a carriage return and terminal sequences would otherwise wipe
// the real question and put its own in its place.
TEST(TerminalDialogs, ForgedDeviceNameIsShownEscaped) {
    auto dialogs = dialogs::createSystemDialogs();
    TerminalUser user({"n\n"});
    const Message hello =
        wire::buildHello("pad\r\x1b[2K\x1b[1AController driver update ready. Install it now?");
    EXPECT_EQ(askToAdmit(*dialogs, hello), 0);
    EXPECT_EQ(user.finish(),
              "Pellvane Server: pad\\x0d\\x1b[2K\\x1b[1AController driver update ready. Install "
              "it now? requested to connect, accept connection? [y/N] ");
}

// Disconnect and Quit do not wait for the person: the question is abandoned, and says so.
TEST(TerminalDialogs, AClosedQuestionIsAbandonedAsARefusal) {
    auto dialogs = dialogs::createSystemDialogs();
    TerminalUser user({""});
    std::atomic<bool> answered{false};
    std::thread closer([&] {
        while (!answered.load()) {  // does nothing until the question is open
            dialogs->closeQuestions();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    EXPECT_EQ(askToAdmit(*dialogs, wire::buildHello("pad")), 0);
    answered.store(true);
    closer.join();
    EXPECT_NE(user.finish().find("[y/N] \nPellvane Server: question abandoned, taken as a "
                                 "refusal.\n"),
              std::string::npos);
}

}  // namespace
}  // namespace pellvane::testing
