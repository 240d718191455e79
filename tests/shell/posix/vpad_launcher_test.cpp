#include "shell/posix/vpad_launcher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "tests/shell/temporary_directory.h"
#include "tests/support/environment.h"

namespace pellvane::testing {
namespace {

namespace fs = std::filesystem;
using shell::VpadLauncher;
using Outcome = VpadLauncher::Outcome;

std::string contentOf(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

// A pid that is neither running nor a zombie waiting to be reaped.
bool gone(pid_t pid) {
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// A stand-in for pellvane-vpad: a script whose body the test writes, run in a folder where
// it leaves files ("present" stands for the controller), and a device file that opens.
class VpadLauncherTest : public ::testing::Test {
  protected:
    VpadLauncherTest()
        : folder_("FAKE_VPAD_FOLDER", folder.text().c_str()), messages_(std::tmpfile()) {
        std::ofstream(folder.file("uhid"));
    }
    ~VpadLauncherTest() override { std::fclose(messages_); }

    VpadLauncher::Settings settings(const std::string& body) {
        const fs::path script = folder.file("fake-vpad");
        std::ofstream(script) << "#!/bin/bash\ncd \"$FAKE_VPAD_FOLDER\" || exit 9\n"
                              << body << "\n";
        fs::permissions(script, fs::perms::owner_all);
        VpadLauncher::Settings settings;
        settings.program = script.string();
        settings.devices = {folder.file("uhid").string()};
        settings.controllerPresent = [this] { return fs::exists(folder.file("present")); };
        settings.stopLimit = std::chrono::milliseconds(300);
        settings.messages = messages_;
        return settings;
    }

    std::string messages() {
        std::fflush(messages_);
        std::rewind(messages_);
        std::string text;
        for (int c; (c = std::fgetc(messages_)) != EOF;) {
            text += static_cast<char>(c);
        }
        return text;
    }

    TemporaryDirectory folder;

  private:
    ScopedEnvironment folder_;
    std::FILE* messages_;
};

// Leaves the calling thread as the program's main thread is: quit signals blocked.
class BlockedQuitSignals {
  public:
    BlockedQuitSignals() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGINT);
        pthread_sigmask(SIG_BLOCK, &set, &before_);
    }
    ~BlockedQuitSignals() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }

  private:
    sigset_t before_;
};

TEST_F(VpadLauncherTest, StartedWhenAbsentAndEndedAtStopAsAFreshProgram) {
    // A descriptor of ours that the child must not inherit.
    const int ours = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(ours, 0);
    ScopedEnvironment leak("FAKE_VPAD_LEAK", std::to_string(ours).c_str());
    VpadLauncher launcher(
        settings("trap 'echo stopped > state; exit 0' TERM\n"
                 "[ -e /proc/$$/fd/$FAKE_VPAD_LEAK ] && echo leaked > leak\n"
                 "touch present\n"
                 "while :; do sleep 0.05; done"));
    {
        const BlockedQuitSignals blocked;
        ASSERT_EQ(launcher.start(), Outcome::presented) << messages();
    }
    ::close(ours);
    const pid_t child = launcher.child();
    ASSERT_GT(child, 0);
    launcher.stop();
    EXPECT_EQ(contentOf(folder.file("state")), "stopped\n") << "SIGTERM did not reach it";
    EXPECT_TRUE(gone(child)) << "not reaped";
    EXPECT_EQ(launcher.child(), 0);
    EXPECT_FALSE(fs::exists(folder.file("leak"))) << contentOf(folder.file("leak"));
    EXPECT_EQ(messages(), "") << "an orderly end is no news";
}

TEST_F(VpadLauncherTest, NotStartedWhereAControllerIsPresentOrTheDeviceCannotBeOpened) {
    std::ofstream(folder.file("present"));
    VpadLauncher present(settings("touch started"));
    EXPECT_EQ(present.start(), Outcome::alreadyPresent);
    fs::remove(folder.file("present"));

    auto unopenable = settings("touch started");
    unopenable.devices.push_back(folder.file("no-uinput").string());
    VpadLauncher refused(unopenable);
    EXPECT_EQ(refused.start(), Outcome::devicesUnavailable);
    EXPECT_NE(messages().find("no virtual game controller: " + folder.file("no-uinput").string()),
              std::string::npos)
        << messages();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(fs::exists(folder.file("started")));
}

TEST_F(VpadLauncherTest, AChildThatIgnoresSigtermIsKilledAndReaped) {
    VpadLauncher launcher(settings("trap '' TERM\ntouch present\nwhile :; do sleep 0.05; done"));
    ASSERT_EQ(launcher.start(), Outcome::presented);
    const pid_t child = launcher.child();
    launcher.stop();
    EXPECT_TRUE(gone(child));
}

TEST_F(VpadLauncherTest, AnEarlyEndIsSaidOnceAndTheProgramGoesOn) {
    VpadLauncher launcher(settings("exit 3"));
    EXPECT_EQ(launcher.start(), Outcome::failed);
    launcher.stop();
    const std::string said = messages();
    EXPECT_NE(said.find("pellvane-vpad ended (exit status 3)"), std::string::npos) << said;
    EXPECT_EQ(said.find("pellvane-vpad ended"), said.rfind("pellvane-vpad ended")) << said;

    auto missing = settings("");
    missing.program = folder.file("no-such-vpad").string();
    VpadLauncher unstartable(missing);
    EXPECT_EQ(unstartable.start(), Outcome::failed);
    EXPECT_NE(messages().find("cannot start " + missing.program), std::string::npos);
}

TEST_F(VpadLauncherTest, TheWaitEndsAtItsLimitOrWhenInterrupted) {
    auto slow = settings("trap 'exit 0' TERM\nwhile :; do sleep 0.05; done");
    slow.appearLimit = std::chrono::milliseconds(200);
    VpadLauncher late(slow);
    EXPECT_EQ(late.start(), Outcome::notPresentedYet);
    EXPECT_GT(late.child(), 0) << "it may still present the controller: kept until stop()";
    EXPECT_NE(messages().find("did not present the controller"), std::string::npos);
    late.stop();

    slow.appearLimit = std::chrono::minutes(5);
    VpadLauncher interrupted(slow);
    std::thread quit([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        interrupted.interrupt();
    });
    EXPECT_EQ(interrupted.start(), Outcome::notPresentedYet);
    quit.join();
    interrupted.stop();
}

}  // namespace
}  // namespace pellvane::testing
