// A question is a dialog program in a child process, and its exit code the answer: 0 agrees,
// anything else refuses, so nothing is agreed to on nobody's behalf. The asking thread
// waits on a pidfd (or, where there is none, looks every little while) together with a wake
// pipe, so that closeQuestions() from another thread can end the question at any moment.
#include "platform/posix/dialog_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/posix/file_descriptor.h"
#include "platform/posix/utf8_text.h"

extern char** environ;

namespace pellvane::dialogs {
namespace {

using Arguments = std::vector<std::string>;

// How long a withdrawn question's program has to leave after SIGTERM before it is killed.
constexpr std::chrono::milliseconds terminateGrace{500};
// Without a pidfd the asking thread looks for the child's end this often.
constexpr int exitPollMs = 50;

enum class ProgramKind { zenity, kdialog };

struct DialogProgram {
    ProgramKind kind;
    std::string path;
};

std::optional<std::string_view> variable(const std::vector<std::string>& variables,
                                         std::string_view name) {
    for (const std::string& entry : variables) {
        const std::string_view view(entry);
        if (view.size() > name.size() && view.starts_with(name) && view[name.size()] == '=') {
            return view.substr(name.size() + 1);
        }
    }
    return std::nullopt;
}

bool namesDisplay(const std::vector<std::string>& variables) {
    for (const std::string_view name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const auto value = variable(variables, name);
        if (value && !value->empty()) {
            return true;
        }
    }
    return false;
}

bool isExecutableFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// The first `name` in PATH's directories. Empty and relative entries, which would name the
// working directory, are passed over: a program there is not the desktop's own.
std::optional<std::string> findOnPath(std::string_view path, std::string_view name) {
    while (!path.empty()) {
        const std::size_t colon = path.find(':');
        const std::string_view directory = path.substr(0, colon);
        path = colon == std::string_view::npos ? std::string_view() : path.substr(colon + 1);
        if (!directory.starts_with('/')) {
            continue;
        }
        std::string candidate(directory);
        candidate.push_back('/');
        candidate.append(name);
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::optional<DialogProgram> findDialogProgram(const std::vector<std::string>& variables) {
    // Without PATH, where a shell would look by default.
    const std::string_view path = variable(variables, "PATH").value_or("/usr/bin:/bin");
    if (auto found = findOnPath(path, "zenity")) {
        return DialogProgram{ProgramKind::zenity, std::move(*found)};
    }
    if (auto found = findOnPath(path, "kdialog")) {
        return DialogProgram{ProgramKind::kdialog, std::move(*found)};
    }
    return std::nullopt;
}

unsigned buttons(unsigned style) {
    return style & buttonMask;
}

unsigned icon(unsigned style) {
    return style & 0xF0;
}

// zenity shows --text as it is once --no-markup is given. It has two buttons, so a
// Yes/No/Cancel question offers Yes and Cancel.
Arguments zenityArguments(const std::string& text, const std::string& caption, unsigned style) {
    Arguments arguments{"zenity"};
    if (!asksQuestion(style)) {
        arguments.push_back(icon(style) == iconError     ? "--error"
                            : icon(style) == iconWarning ? "--warning"
                                                         : "--info");
    } else {
        arguments.push_back("--question");
        const bool yesNoButtons = buttons(style) == yesNo || buttons(style) == yesNoCancel;
        arguments.push_back(yesNoButtons ? "--ok-label=Yes" : "--ok-label=OK");
        arguments.push_back(buttons(style) == yesNo ? "--cancel-label=No"
                                                    : "--cancel-label=Cancel");
        if ((style & defaultButton2) != 0) {
            arguments.push_back("--default-cancel");
        }
    }
    arguments.push_back("--no-markup");
    arguments.push_back("--title=" + caption);
    arguments.push_back("--text=" + text);
    return arguments;
}

// kdialog first reads backslash escapes in the text (\n, \\), then Qt guesses from its
// first line whether it is rich text. The text goes as rich text always, every character
// that is markup (& < >) or an escape (\) written out, so that it shows exactly as given
// whichever way it starts; line breaks become <br>.
std::string kdialogText(std::string_view text) {
    std::string out = "<qt>";
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "<br>";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

Arguments kdialogArguments(const std::string& text, const std::string& caption, unsigned style) {
    Arguments arguments{"kdialog", "--title", caption};
    if (!asksQuestion(style)) {
        arguments.push_back(icon(style) == iconError     ? "--error"
                            : icon(style) == iconWarning ? "--sorry"
                                                         : "--msgbox");
        arguments.push_back(kdialogText(text));
        return arguments;
    }
    arguments.push_back(buttons(style) == yesNoCancel ? "--yesnocancel" : "--yesno");
    arguments.push_back(kdialogText(text));
    if (buttons(style) == okCancel) {
        arguments.insert(arguments.end(), {"--yes-label", "OK", "--no-label", "Cancel"});
    }
    return arguments;
}

// Starts `path` with `arguments` and `variables`, no shell between: standard input and
// output on /dev/null, standard error shared, no other descriptor inherited, every signal
// unblocked and at its default (this program blocks or ignores some). -1 on failure.
pid_t spawnProgram(const std::string& path, const Arguments& arguments,
                   const std::vector<std::string>& variables) {
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : variables) {
        envp.push_back(const_cast<char*>(entry.c_str()));
    }
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    if (::posix_spawn_file_actions_init(&actions) != 0) {
        return -1;
    }
    if (::posix_spawnattr_init(&attributes) != 0) {
        ::posix_spawn_file_actions_destroy(&actions);
        return -1;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    pid_t child = -1;
    const bool prepared =
        ::posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
        ::posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0) ==
            0 &&
        ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0 &&
        ::posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
        ::posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
        ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) ==
            0;
    if (prepared &&
        ::posix_spawn(&child, path.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) {
        child = -1;
    }
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    return prepared ? child : -1;
}

// Reaps a child known to have ended, or waits for it; its wait status, or -1.
int reap(pid_t pid) {
    int status = 0;
    pid_t reaped = 0;
    while ((reaped = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
    }
    return reaped == pid ? status : -1;
}

bool exitedWith(int status, int code) {
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == code;
}

class DialogProgramDialogs final : public Dialogs {
  public:
    DialogProgramDialogs(DialogProgram program, std::vector<std::string> variables,
                         posix::FileDescriptor wakeReader, posix::FileDescriptor wakeWriter)
        : program_(std::move(program)),
          variables_(std::move(variables)),
          wakeReader_(std::move(wakeReader)),
          wakeWriter_(std::move(wakeWriter)) {}

    ~DialogProgramDialogs() override {
        std::lock_guard guard(stateLock_);
        for (const pid_t box : boxes_) {
            ::kill(box, SIGTERM);
            reap(box);
        }
    }

    DialogProgramDialogs(const DialogProgramDialogs&) = delete;
    DialogProgramDialogs& operator=(const DialogProgramDialogs&) = delete;

    int messageBox(const char* text, const char* caption, unsigned style) override {
        return show(posix::validUtf8(text == nullptr ? "" : text),
                    posix::validUtf8(caption == nullptr ? "" : caption), style);
    }

    int messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) override {
        return show(posix::utf8FromWide(text), posix::utf8FromWide(caption), style);
    }

    void closeQuestions() override {
        {
            std::lock_guard guard(stateLock_);
            ++withdrawals_;
            if (child_ > 0) {
                // Not reaped yet (the asking thread clears child_ first): the pid is still ours.
                ::kill(child_, SIGTERM);
            }
        }
        const char wake = 1;
        // A full pipe already holds a wake-up.
        [[maybe_unused]] const ssize_t written = ::write(wakeWriter_.get(), &wake, 1);
    }

  private:
    Arguments arguments(const std::string& text, const std::string& caption, unsigned style) const {
        return program_.kind == ProgramKind::zenity ? zenityArguments(text, caption, style)
                                                    : kdialogArguments(text, caption, style);
    }

    int show(const std::string& text, const std::string& caption, unsigned style) {
        if (!asksQuestion(style)) {
            return tell(arguments(text, caption, style));
        }
        return ask(arguments(text, caption, style), style);
    }

    // A plain box is no question: closeQuestions() leaves it, and nobody waits for it to
    // be closed. The program starts, shows an error it could not avoid and goes on, as
    // would a thread that reports a failure; the box stays until its reader closes it, and
    // is reaped afterwards (or ended with the program).
    int tell(const Arguments& arguments) {
        reapClosedBoxes();
        const pid_t child = spawnProgram(program_.path, arguments, variables_);
        if (child < 0) {
            return boxFailed;
        }
        std::lock_guard guard(stateLock_);
        boxes_.push_back(child);
        return answerOk;
    }

    void reapClosedBoxes() {
        std::lock_guard guard(stateLock_);
        std::erase_if(boxes_, [](pid_t box) {
            int status = 0;
            return ::waitpid(box, &status, WNOHANG) != 0;  // ended, or not ours any more
        });
    }

    int ask(const Arguments& arguments, unsigned style) {
        const std::uint64_t putAt = withdrawalsSoFar();
        // One question at a time, as on a desktop: a second waits for the first answer.
        std::lock_guard turn(questionTurn_);
        forgetWakeUps();
        if (withdrawalsSoFar() != putAt) {
            return refusingButton(style);
        }
        const pid_t child = spawnProgram(program_.path, arguments, variables_);
        if (child < 0) {
            return refusingButton(style);
        }
        {
            std::lock_guard guard(stateLock_);
            child_ = child;
            // A withdrawal that came while the program was being started.
            if (withdrawals_ != putAt) {
                ::kill(child, SIGTERM);
            }
        }
        const int status = awaitExit(child, putAt);
        // An OK that races with the withdrawal does not count: the question was closed.
        if (withdrawalsSoFar() != putAt) {
            return refusingButton(style);
        }
        if (exitedWith(status, 0)) {
            return agreeingButton(style);
        }
        // kdialog's No in a Yes/No/Cancel question.
        if (buttons(style) == yesNoCancel && program_.kind == ProgramKind::kdialog &&
            exitedWith(status, 1)) {
            return answerNo;
        }
        return refusingButton(style);
    }

    std::uint64_t withdrawalsSoFar() {
        std::lock_guard guard(stateLock_);
        return withdrawals_;
    }

    // Wake-ups meant for an earlier question; withdrawals_ tells whether this one is meant.
    void forgetWakeUps() {
        char chunk[64];
        while (::read(wakeReader_.get(), chunk, sizeof chunk) > 0) {
        }
    }

    // Waits until the child has ended, without reaping it, and then reaps it; its wait
    // status, or -1. A withdrawn child that outstays its grace after SIGTERM is killed.
    int awaitExit(pid_t child, std::uint64_t putAt) {
        const posix::FileDescriptor exitFd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
        using Clock = std::chrono::steady_clock;
        constexpr Clock::time_point unarmed = Clock::time_point::max();
        Clock::time_point killAt = unarmed;  // armed once the question is withdrawn
        for (;;) {
            siginfo_t info{};
            const int looked =
                ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT);
            if (looked < 0 && errno == EINTR) {
                continue;
            }
            if (looked < 0 || info.si_pid == child) {
                break;  // ended (or reaped by someone else: ECHILD)
            }
            int timeout = exitFd ? -1 : exitPollMs;
            if (killAt != unarmed) {
                const auto left =
                    std::chrono::ceil<std::chrono::milliseconds>(killAt - Clock::now()).count();
                if (left <= 0) {
                    ::kill(child, SIGKILL);
                } else if (timeout < 0 || left < timeout) {
                    timeout = static_cast<int>(left);
                }
            }
            pollfd watched[2] = {{exitFd.get(), POLLIN, 0}, {wakeReader_.get(), POLLIN, 0}};
            if (::poll(watched, 2, timeout) > 0 && (watched[1].revents & POLLIN) != 0) {
                forgetWakeUps();
                if (killAt == unarmed && withdrawalsSoFar() != putAt) {
                    killAt = Clock::now() + terminateGrace;
                }
            }
        }
        {
            std::lock_guard guard(stateLock_);
            child_ = -1;
        }
        return reap(child);
    }

    const DialogProgram program_;
    const std::vector<std::string> variables_;
    std::mutex questionTurn_;        // held by the question being asked
    std::mutex stateLock_;           // guards child_, withdrawals_ and boxes_
    pid_t child_ = -1;               // the open question's program, until it is reaped
    std::vector<pid_t> boxes_;       // plain boxes' programs, until they are reaped
    std::uint64_t withdrawals_ = 0;  // closeQuestions() calls so far
    // A byte tells the asking thread to look at withdrawals_.
    posix::FileDescriptor wakeReader_;
    posix::FileDescriptor wakeWriter_;
};

}  // namespace

DialogProgramEnvironment DialogProgramEnvironment::ofThisProcess() {
    DialogProgramEnvironment environment;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        environment.variables.emplace_back(*entry);
    }
    return environment;
}

std::unique_ptr<Dialogs> createDialogProgramDialogs(const DialogProgramEnvironment& environment) {
    if (!namesDisplay(environment.variables)) {
        return nullptr;
    }
    std::optional<DialogProgram> program = findDialogProgram(environment.variables);
    int ends[2];
    if (!program || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        return nullptr;
    }
    return std::make_unique<DialogProgramDialogs>(std::move(*program), environment.variables,
                                                  posix::FileDescriptor(ends[0]),
                                                  posix::FileDescriptor(ends[1]));
}

}  // namespace pellvane::dialogs
