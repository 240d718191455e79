// A terminal stands in for message boxes: the text goes to standard error and a question is
// answered by one line of standard input. A question that cannot be put or answered gets
// the refusing button, so nothing is agreed to on nobody's behalf, and only a line typed
// after the question is put answers it. A withdrawn question is abandoned with a line
// that says so.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/dialogs.h"
#include "platform/posix/file_descriptor.h"

namespace pellvane::dialogs {
namespace {

constexpr std::string_view linePrefix = "Pellvane Server: ";
constexpr std::string_view questionSuffix = " [y/N] ";
constexpr std::string_view abandonedLine =
    "\nPellvane Server: question abandoned, taken as a refusal.\n";
// Enough for any answer worth reading; the rest of a longer line is consumed unread.
constexpr std::size_t answerLimit = 64;

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

enum class LineOutcome { answered, noAnswer, withdrawn };

// Reads up to and including the next newline, one byte at a time, so that nothing after
// the line is taken from the input. No answer at end of input before any newline or on
// error; withdrawn as soon as `withdrawFd` becomes readable.
LineOutcome readAnswerLine(int fd, int withdrawFd, std::string& answer) {
    bool sawAnything = false;
    for (;;) {
        pollfd watched[2] = {{fd, POLLIN, 0}, {withdrawFd, POLLIN, 0}};
        const int ready = ::poll(watched, withdrawFd < 0 ? 1 : 2, -1);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready > 0 && (watched[1].revents & POLLIN) != 0) {
            return LineOutcome::withdrawn;
        }
        char byte = 0;
        const ssize_t got = ::read(fd, &byte, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            // A last line without its newline still counts.
            return sawAnything ? LineOutcome::answered : LineOutcome::noAnswer;
        }
        sawAnything = true;
        if (byte == '\n') {
            return LineOutcome::answered;
        }
        if (answer.size() < answerLimit) {
            answer.push_back(byte);
        }
    }
}

// Throws away what standard input already holds when a question is put: a "y" typed at
// the idle program, or left over from an earlier answer, must not answer a question that
// nobody has seen yet. Never blocks.
void discardWaitingInput(int fd) {
    if (::isatty(fd) == 1) {
        ::tcflush(fd, TCIFLUSH);
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode)) {
        ::lseek(fd, 0, SEEK_END);  // all of a file was there before the question
        return;
    }
    // A pipe or socket: read away what is there now, and no more, so that a writer that
    // never stops cannot keep the question from being put.
    int waiting = 0;
    if (::ioctl(fd, FIONREAD, &waiting) != 0) {
        return;
    }
    char chunk[256];
    while (waiting > 0) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, 0) != 1) {
            return;
        }
        const std::size_t wanted = std::min(sizeof chunk, static_cast<std::size_t>(waiting));
        const ssize_t got = ::read(fd, chunk, wanted);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return;
        }
        waiting -= static_cast<int>(got);
    }
}

std::string normalised(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    std::string lower;
    for (char c : text) {
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    return lower;
}

bool isAgreement(std::string_view answer) {
    const std::string word = normalised(answer);
    return word == "y" || word == "yes" || word == "ok";
}

std::string narrowed(const wchar_t* text) {
    std::string narrow;
    for (const wchar_t* p = text; p != nullptr && *p != L'\0'; ++p) {
        narrow.push_back(*p < 0x80 ? static_cast<char>(*p) : '?');
    }
    return narrow;
}

class TerminalDialogs final : public Dialogs {
  public:
    // Without the pipe, questions wait for their answer.
    TerminalDialogs() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            withdrawReader_.reset(ends[0]);
            withdrawWriter_.reset(ends[1]);
        }
    }

    TerminalDialogs(const TerminalDialogs&) = delete;
    TerminalDialogs& operator=(const TerminalDialogs&) = delete;

    int messageBox(const char* text, const char*, unsigned style) override {
        return show(text == nullptr ? std::string_view() : std::string_view(text), style);
    }

    int messageBox(const wchar_t* text, const wchar_t*, unsigned style) override {
        return show(narrowed(text), style);
    }

    void closeQuestions() override {
        if (asking_.load() && withdrawWriter_) {
            const char wake = 1;
            // A full pipe already holds a withdrawal.
            [[maybe_unused]] const ssize_t written = ::write(withdrawWriter_.get(), &wake, 1);
        }
    }

  private:
    // Withdrawals meant for an earlier question do not reach this one.
    void forgetWithdrawals() {
        char chunk[64];
        while (withdrawReader_ && ::read(withdrawReader_.get(), chunk, sizeof chunk) > 0) {
        }
    }

    int show(std::string_view text, unsigned style) {
        // One box at a time, as on a desktop: a second question waits for the first answer.
        std::lock_guard guard(terminalLock_);
        std::string line(linePrefix);
        line.append(text);
        if (!asksQuestion(style)) {
            line.push_back('\n');
            return writeAll(STDERR_FILENO, line) ? answerOk : boxFailed;
        }
        line.append(questionSuffix);
        discardWaitingInput(STDIN_FILENO);
        forgetWithdrawals();
        asking_.store(true);
        std::string answer;
        LineOutcome outcome = LineOutcome::noAnswer;
        if (writeAll(STDERR_FILENO, line)) {
            outcome = readAnswerLine(STDIN_FILENO, withdrawReader_.get(), answer);
        }
        asking_.store(false);
        if (outcome == LineOutcome::withdrawn) {
            writeAll(STDERR_FILENO, abandonedLine);
        }
        if (outcome != LineOutcome::answered) {
            return refusingButton(style);
        }
        return isAgreement(answer) ? agreeingButton(style) : refusingButton(style);
    }

    static std::mutex terminalLock_;  // guards the terminal while a box is shown
    // A byte written to the pipe withdraws the open question.
    posix::FileDescriptor withdrawReader_;
    posix::FileDescriptor withdrawWriter_;
    std::atomic<bool> asking_{false};  // a question waits for its answer
};

std::mutex TerminalDialogs::terminalLock_;

}  // namespace

std::unique_ptr<Dialogs> createSystemDialogs() {
    return std::make_unique<TerminalDialogs>();
}

}  // namespace pellvane::dialogs
