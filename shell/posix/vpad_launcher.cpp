#include "shell/posix/vpad_launcher.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "controller/controller_discovery.h"
#include "platform/hid.h"
#include "platform/posix/device_paths.h"

extern char** environ;

namespace pellvane::shell {
namespace {

constexpr std::chrono::milliseconds appearPoll{100};
constexpr std::chrono::milliseconds stopPoll{10};
constexpr const char* vpadName = "pellvane-vpad";

std::string besideRunningProgram(const char* name) {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return name;  // not found then: the spawn says so
    }
    return (program.parent_path() / name).string();
}

std::string describeEnd(int status) {
    if (WIFEXITED(status)) {
        return "exit status " + std::to_string(WEXITSTATUS(status));
    }
    if (WIFSIGNALED(status)) {
        return std::string("signal ") + ::strsignal(WTERMSIG(status));
    }
    return "status " + std::to_string(status);
}

// The child starts as a fresh program would: no signal blocked or ignored (this process
// blocks the quit signals in every thread and ignores SIGPIPE), standard input not the
// terminal that the admission question reads, its lines on standard error so that standard
// output stays the program's, and no descriptor of ours beyond those three.
class SpawnSetup {
  public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~SpawnSetup() {
        posix_spawnattr_destroy(&attributes_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // 0, or the error number of the step that failed.
    int prepare() {
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        for (const int signal : {SIGHUP, SIGINT, SIGTERM, SIGPIPE, SIGUSR1, SIGCHLD}) {
            sigaddset(&defaults, signal);
        }
        for (const int error :
             {posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0),
              posix_spawn_file_actions_adddup2(&actions_, STDERR_FILENO, STDOUT_FILENO),
              posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1),
              posix_spawnattr_setsigmask(&attributes_, &none),
              posix_spawnattr_setsigdefault(&attributes_, &defaults),
              posix_spawnattr_setflags(&attributes_,
                                       POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF)}) {
            if (error != 0) {
                return error;
            }
        }
        return 0;
    }

    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

  private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace

VpadLauncher::Settings VpadLauncher::systemSettings() {
    Settings settings;
    const char* chosen = std::getenv("PELLVANE_VPAD");
    settings.program =
        chosen != nullptr && chosen[0] != '\0' ? chosen : besideRunningProgram(vpadName);
    settings.devices = {platform::devicePath("uhid"), platform::devicePath("uinput")};
    settings.controllerPresent = [] { return controllerDevicePresent(platform::systemHid()); };
    return settings;
}

VpadLauncher::VpadLauncher(Settings settings) : settings_(std::move(settings)) {}

VpadLauncher::Outcome VpadLauncher::start() {
    if (child_ != 0 || settings_.controllerPresent()) {
        return Outcome::alreadyPresent;
    }
    if (!devicesOpenable()) {
        return Outcome::devicesUnavailable;
    }
    if (!spawn()) {
        return Outcome::failed;
    }
    // The services look for the controller once, as they start: it has to be there first.
    const auto deadline = std::chrono::steady_clock::now() + settings_.appearLimit;
    for (;;) {
        if (settings_.controllerPresent()) {
            return Outcome::presented;
        }
        if (reapIfEnded(true)) {
            return Outcome::failed;
        }
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero() ||
            interrupted_.waitFor(std::min<std::chrono::steady_clock::duration>(left, appearPoll))) {
            break;
        }
    }
    if (settings_.controllerPresent()) {
        return Outcome::presented;
    }
    if (reapIfEnded(true)) {
        return Outcome::failed;
    }
    if (!interrupted_.requested()) {
        say(std::string(vpadName) + " did not present the controller within " +
            std::to_string(settings_.appearLimit.count()) + " ms");
    }
    return Outcome::notPresentedYet;
}

void VpadLauncher::stop() {
    if (child_ == 0 || reapIfEnded(true)) {
        return;
    }
    ::kill(child_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + settings_.stopLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        if (reapIfEnded(false)) {
            return;
        }
        std::this_thread::sleep_for(stopPoll);
    }
    ::kill(child_, SIGKILL);
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {
    }
    child_ = 0;
}

bool VpadLauncher::devicesOpenable() {
    for (const auto& device : settings_.devices) {
        const int fd = ::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            say("no virtual game controller: " + device + " cannot be opened for writing (" +
                std::strerror(errno) + "); the udev rule 70-pellvane.rules allows it");
            return false;
        }
        ::close(fd);
    }
    return true;
}

bool VpadLauncher::spawn() {
    SpawnSetup setup;
    int error = setup.prepare();
    pid_t child = 0;
    if (error == 0) {
        std::string program = settings_.program;
        char* arguments[] = {program.data(), nullptr};
        error = ::posix_spawn(&child, program.c_str(), setup.actions(), setup.attributes(),
                              arguments, environ);
    }
    if (error != 0) {
        say("cannot start " + settings_.program + " (" + std::strerror(error) +
            "); going on without the virtual game controller");
        return false;
    }
    child_ = child;
    return true;
}

bool VpadLauncher::reapIfEnded(bool unexpected) {
    if (child_ == 0) {
        return true;
    }
    int status = 0;
    pid_t ended = 0;
    do {
        ended = ::waitpid(child_, &status, WNOHANG);
    } while (ended < 0 && errno == EINTR);
    if (ended == 0) {
        return false;
    }
    // ECHILD: someone reaped it for us (SIGCHLD ignored); it is gone either way.
    if (ended == child_ && unexpected) {
        say(std::string(vpadName) + " ended (" + describeEnd(status) +
            "); going on without the virtual game controller");
    }
    child_ = 0;
    return true;
}

void VpadLauncher::say(const std::string& line) {
    std::fprintf(settings_.messages, "pellvane-server: %s\n", line.c_str());
    std::fflush(settings_.messages);
}

}  // namespace pellvane::shell
