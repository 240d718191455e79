// On a desktop, boxes and questions are a dialog program run as a child. Fake zenity and
// kdialog scripts in a PATH of the test's own record their arguments and exit as told; one
// test shows real zenity windows on an Xvfb of its own.
#include "platform/posix/dialog_program.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <future>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "delegates/admission_prompt.h"
#include "server/wire_building.h"
#include "tests/delegates/posix/private_x_server.h"
#include "tests/support/eventually.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

constexpr unsigned promptStyle = 0x50121;  // the admission question's
constexpr char hostileName[] = "<b>pad</b> & \"x\" 'y' $(reboot) `id` \\n\n2nd";
// The name as the admission question carries it: its line break escaped.
constexpr char shownName[] = "<b>pad</b> & \"x\" 'y' $(reboot) `id` \\n\\x0a2nd";
constexpr char questionTail[] = " requested to connect, accept connection?";

// A directory that stands in for PATH, with dialog programs written as shell scripts (using
// builtins and absolute paths only). Each records its arguments in `arguments` (their count,
// then one per line) and exits with the code in `exit-code` (0 at first).
class FakePrograms {
  public:
    FakePrograms() {
        char pattern[] = "/tmp/pellvane-dialogs-XXXXXX";
        directory_ = ::mkdtemp(pattern);
        setExitCode(0);
    }
    ~FakePrograms() { std::system(("rm -rf '" + directory_ + "'").c_str()); }
    FakePrograms(const FakePrograms&) = delete;
    FakePrograms& operator=(const FakePrograms&) = delete;

    void installRecorder(const std::string& name) {
        install(name, "printf '%s\\n' \"$#\" \"$@\" > " + file("arguments") + "\nread code < " +
                          file("exit-code") + "\nexit \"$code\"\n");
    }
    // Waits until SIGTERM, which it notes in `signal`.
    void installSleeper(const std::string& name) {
        install(name, "trap 'echo terminated > " + file("signal") + "; kill $!; exit 1' TERM\n" +
                          "/bin/sleep 30 &\necho > " + file("started") + "\nwait\n");
    }
    void remove(const std::string& name) { ::unlink(file(name).c_str()); }
    void setExitCode(int code) { write("exit-code", std::to_string(code) + "\n"); }

    // A plain box's program runs on after the call: what it recorded, once it has.
    bool recordedSoon(const std::string& expected) const {
        return eventually([&] { return read("arguments") == expected; });
    }

    std::string read(const std::string& name) const {
        std::ifstream in(file(name));
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    const std::string& directory() const { return directory_; }
    bool exists(const std::string& name) const { return ::access(file(name).c_str(), F_OK) == 0; }

    dialogs::DialogProgramEnvironment desktop() const {
        return {{"PATH=relative:" + directory_, "DISPLAY=:99"}};
    }

  private:
    std::string file(const std::string& name) const { return directory_ + "/" + name; }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(file(name)) << text;
    }
    void install(const std::string& name, const std::string& body) {
        write(name, "#!/bin/sh\n" + body);
        ::chmod(file(name).c_str(), 0755);
    }

    std::string directory_;
};

// How a recorder writes `arguments` down.
std::string recorded(const std::vector<std::string>& arguments) {
    std::string lines = std::to_string(arguments.size()) + "\n";
    for (const std::string& argument : arguments) {
        lines += argument + "\n";
    }
    return lines;
}

int ask(dialogs::Dialogs& dialogs, unsigned style) {
    return dialogs.messageBox("Keep going?", "Pellvane Server", style);
}

TEST(DialogProgram, NoDisplayOrNoProgramMeansNoDialogs) {
    FakePrograms programs;
    programs.installRecorder("zenity");
    const std::string path = "PATH=" + programs.directory();
    EXPECT_EQ(dialogs::createDialogProgramDialogs({{path}}), nullptr);
    EXPECT_EQ(dialogs::createDialogProgramDialogs({{path, "DISPLAY="}}), nullptr);
    EXPECT_NE(dialogs::createDialogProgramDialogs({{path, "WAYLAND_DISPLAY=wayland-0"}}), nullptr);
    programs.remove("zenity");
    EXPECT_EQ(dialogs::createDialogProgramDialogs(programs.desktop()), nullptr);
    // Nor is one in the working directory.
    programs.installRecorder("zenity");
    char saved[4096] = {};
    ASSERT_NE(::getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(::chdir(programs.directory().c_str()), 0);
    EXPECT_EQ(dialogs::createDialogProgramDialogs({{"PATH=:.", "DISPLAY=:99"}}), nullptr);
    ASSERT_EQ(::chdir(saved), 0);
}

// The device's name, markup, quotes, shell syntax and all, reaches zenity as part of one
// argument that is shown as plain text; only a plain OK admits.
TEST(DialogProgram, ZenityQuestionTakesTheTextLiterallyAndOnlyExitZeroAgrees) {
    FakePrograms programs;
    programs.installRecorder("zenity");
    auto dialogs = dialogs::createDialogProgramDialogs(programs.desktop());
    ASSERT_NE(dialogs, nullptr);
    EXPECT_EQ(askToAdmit(*dialogs, wire::buildHello(hostileName)), 1);
    EXPECT_EQ(programs.read("arguments"),
              recorded({"--question", "--ok-label=OK", "--cancel-label=Cancel", "--default-cancel",
                        "--no-markup", "--title=Pellvane Server",
                        std::string("--text=") + shownName + questionTail}));
    for (const int code : {1, 5, 255}) {
        programs.setExitCode(code);
        EXPECT_EQ(ask(*dialogs, dialogs::okCancel), dialogs::answerCancel) << code;
        EXPECT_EQ(ask(*dialogs, dialogs::yesNo), dialogs::answerNo) << code;
    }
    programs.setExitCode(0);
    EXPECT_EQ(ask(*dialogs, dialogs::yesNo), dialogs::answerYes);
    EXPECT_NE(programs.read("arguments").find("--ok-label=Yes\n--cancel-label=No\n"),
              std::string::npos);
    programs.remove("zenity");  // the question cannot be shown
    EXPECT_EQ(ask(*dialogs, dialogs::okCancel), dialogs::answerCancel);
    EXPECT_EQ(ask(*dialogs, dialogs::yesNo), dialogs::answerNo);
}

TEST(DialogProgram, ZenityBoxByIconWithWideTextAsUtf8) {
    FakePrograms programs;
    programs.installRecorder("zenity");
    auto dialogs = dialogs::createDialogProgramDialogs(programs.desktop());
    ASSERT_NE(dialogs, nullptr);
    const wchar_t text[] = {L'\u00e9',
                            L'\u20ac',
                            static_cast<wchar_t>(0x1F600),
                            static_cast<wchar_t>(0xD800),
                            static_cast<wchar_t>(0x110000),
                            0};
    EXPECT_EQ(dialogs->messageBox(text, L"Pellvane Server", dialogs::iconError), dialogs::answerOk);
    EXPECT_TRUE(programs.recordedSoon(recorded({"--error", "--no-markup", "--title=Pellvane Server",
                                                "--text=\u00e9\u20ac\U0001F600\uFFFD\uFFFD"})));
    EXPECT_EQ(dialogs->messageBox("a\xff\xc0\xafz", "c", dialogs::iconWarning), dialogs::answerOk);
    EXPECT_TRUE(programs.recordedSoon(
        recorded({"--warning", "--no-markup", "--title=c", "--text=a\uFFFD\uFFFD\uFFFDz"})));
    // Nobody waits for a plain box: the caller goes on while it is shown.
    programs.installSleeper("zenity");
    const auto before = std::chrono::steady_clock::now();
    EXPECT_EQ(dialogs->messageBox("i", "c", dialogs::iconInformation), dialogs::answerOk);
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    programs.remove("zenity");
    EXPECT_EQ(dialogs->messageBox("i", "c", dialogs::okOnly), dialogs::boxFailed);
}

// kdialog reads \-escapes and may take the text as rich text: both are written out.
TEST(DialogProgram, KdialogWhenThereIsNoZenityWithItsTextEscaped) {
    FakePrograms programs;
    programs.installRecorder("kdialog");
    auto dialogs = dialogs::createDialogProgramDialogs(programs.desktop());
    ASSERT_NE(dialogs, nullptr);
    programs.setExitCode(2);
    EXPECT_EQ(askToAdmit(*dialogs, wire::buildHello(hostileName)), 0);
    EXPECT_EQ(programs.read("arguments"),
              recorded({"--title", "Pellvane Server", "--yesno",
                        std::string("<qt>&lt;b&gt;pad&lt;/b&gt; &amp; \"x\" 'y' $(reboot) `id` "
                                    "\\\\n\\\\x0a2nd") +
                            questionTail,
                        "--yes-label", "OK", "--no-label", "Cancel"}));
    programs.setExitCode(0);
    EXPECT_EQ(askToAdmit(*dialogs, wire::buildHello("pad")), 1);
    EXPECT_EQ(dialogs->messageBox("line\nnext", "c", dialogs::iconError), dialogs::answerOk);
    EXPECT_TRUE(programs.recordedSoon(recorded({"--title", "c", "--error", "<qt>line<br>next"})));
}

// Disconnect and Quit do not wait for the person: closeQuestions() from another thread ends
// the program with SIGTERM even where the asking thread blocks it, as this program's
// threads do. A question put afterwards is asked as usual.
TEST(DialogProgram, ClosedQuestionEndsItsProgramAndRefuses) {
    FakePrograms programs;
    programs.installSleeper("zenity");
    auto dialogs = dialogs::createDialogProgramDialogs(programs.desktop());
    ASSERT_NE(dialogs, nullptr);
    auto answer = std::async(std::launch::async, [&] {
        sigset_t terminate;
        sigemptyset(&terminate);
        sigaddset(&terminate, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &terminate, nullptr);
        return ask(*dialogs, dialogs::yesNo);
    });
    ASSERT_TRUE(eventually([&] { return programs.exists("started"); }));
    const auto closedAt = std::chrono::steady_clock::now();
    dialogs->closeQuestions();
    ASSERT_EQ(answer.wait_for(1s), std::future_status::ready);
    EXPECT_LT(std::chrono::steady_clock::now() - closedAt, 1s);
    EXPECT_EQ(answer.get(), dialogs::answerNo);
    EXPECT_EQ(programs.read("signal"), "terminated\n");

    programs.installRecorder("zenity");
    EXPECT_EQ(ask(*dialogs, dialogs::okCancel), dialogs::answerOk);
}

// A second question waits until the first is answered: never two windows at once.
TEST(DialogProgram, OneQuestionAtATime) {
    FakePrograms programs;
    programs.installSleeper("zenity");
    auto dialogs = dialogs::createDialogProgramDialogs(programs.desktop());
    ASSERT_NE(dialogs, nullptr);
    auto first = std::async(std::launch::async, [&] { return ask(*dialogs, dialogs::okCancel); });
    ASSERT_TRUE(eventually([&] { return programs.exists("started"); }));
    programs.installRecorder("zenity");
    auto second = std::async(std::launch::async, [&] { return ask(*dialogs, dialogs::okCancel); });
    EXPECT_EQ(second.wait_for(300ms), std::future_status::timeout);
    EXPECT_FALSE(programs.exists("arguments"));
    dialogs->closeQuestions();  // both were put before it
    EXPECT_EQ(first.get(), dialogs::answerCancel);
    EXPECT_EQ(second.get(), dialogs::answerCancel);
    EXPECT_FALSE(programs.exists("arguments"));
}

// What a shell command prints, spaces and line breaks trimmed from its end.
std::string output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char chunk[256];
        std::size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            text.append(chunk, got);
        }
        ::pclose(pipe);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.pop_back();
    }
    return text;
}

std::string testProgramFolder() {
    char path[4096] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    const std::string program(path, length > 0 ? static_cast<std::size_t>(length) : 0);
    return program.substr(0, program.rfind('/'));
}

// Real zenity windows: Return answers the first question with its OK button; the admission
// question is closed as a refusal and its window goes. A screenshot of the admission
// question is left in the test programs' folder.
TEST(DialogProgramOnXvfb, RealZenityIsAnsweredAndClosed) {
    if (!PrivateXServer::installed() || ::access("/usr/bin/zenity", X_OK) != 0 ||
        ::access("/usr/bin/xdotool", X_OK) != 0) {
        GTEST_SKIP() << "needs Xvfb, zenity and xdotool";
    }
    PrivateXServer server;
    const std::optional<std::string> display = server.start();
    if (!display) {
        GTEST_SKIP() << "Xvfb did not start";
    }
    auto environment = dialogs::DialogProgramEnvironment::ofThisProcess();
    std::erase_if(environment.variables, [](const std::string& entry) {
        return entry.starts_with("DISPLAY=") || entry.starts_with("WAYLAND_DISPLAY=");
    });
    environment.variables.push_back("DISPLAY=" + *display);
    environment.variables.push_back("NO_AT_BRIDGE=1");  // no accessibility bus to wait for
    auto dialogs = dialogs::createDialogProgramDialogs(environment);
    ASSERT_NE(dialogs, nullptr);
    const std::string x = "DISPLAY=" + *display + " ";
    const auto findWindow = [&](const std::string& name) {
        return output(x + "timeout 20 xdotool search --sync --name '" + name + "' | head -n 1");
    };

    auto first = std::async(std::launch::async, [&] {
        return dialogs->messageBox("Press OK.", "Pellvane test question",
                                   dialogs::okCancel | dialogs::iconQuestion);
    });
    // An unanswered question would keep its future, and the test, waiting.
    const std::string window = findWindow("Pellvane test question");
    if (!window.empty()) {
        output(x + "xdotool windowfocus --sync " + window + " key Return");
    }
    if (first.wait_for(10s) != std::future_status::ready) {
        dialogs->closeQuestions();
        FAIL() << "the first question was not answered; its window: " << window;
    }
    EXPECT_EQ(first.get(), dialogs::answerOk);

    auto admission = std::async(
        std::launch::async, [&] { return askToAdmit(*dialogs, wire::buildHello(hostileName)); });
    if (findWindow("Pellvane Server").empty()) {
        dialogs->closeQuestions();
        FAIL() << "no window for the admission question";
    }
    std::this_thread::sleep_for(300ms);  // drawn
    const std::string screenshot = testProgramFolder() + "/dialog_program_admission.png";
    EXPECT_EQ(output(x + "import -window root '" + screenshot + "' && echo taken"), "taken");
    dialogs->closeQuestions();
    ASSERT_EQ(admission.wait_for(1s), std::future_status::ready);
    EXPECT_EQ(admission.get(), 0);
    EXPECT_TRUE(eventually(
        [&] { return output(x + "xdotool search --name 'Pellvane Server'").empty(); }, 2s));
}

}  // namespace
}  // namespace pellvane::testing
