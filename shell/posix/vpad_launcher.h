// The virtual game controller without a second command: where none is present and the
// device files allow it, the program starts pellvane-vpad (found beside it, or where
// PELLVANE_VPAD says) as its child before the services look for the controller, and ends it
// at Quit.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "platform/threads.h"

namespace pellvane::shell {

class VpadLauncher {
  public:
    struct Settings {
        std::string program;
        // Device files that the controller is made through; each must open for writing.
        std::vector<std::string> devices;
        std::function<bool()> controllerPresent;
        // How long the controller has to appear after the start, and how long a SIGTERM has
        // to end the child before SIGKILL does.
        std::chrono::milliseconds appearLimit{5000};
        std::chrono::milliseconds stopLimit{2000};
        std::FILE* messages = stderr;
    };

    enum class Outcome {
        alreadyPresent,      // another controller serves; nothing started
        devicesUnavailable,  // the device files cannot be opened; nothing started
        presented,           // started, and the controller appeared
        notPresentedYet,     // started and still running, but no controller within the limit
        failed,              // could not be started, or ended at once
    };

    // This system's device files, the running program's pellvane-vpad, the hidraw check.
    static Settings systemSettings();

    VpadLauncher() : VpadLauncher(systemSettings()) {}
    explicit VpadLauncher(Settings settings);
    ~VpadLauncher() { stop(); }
    VpadLauncher(const VpadLauncher&) = delete;
    VpadLauncher& operator=(const VpadLauncher&) = delete;

    // Starts the child unless it is not needed or cannot work, and waits for the controller
    // (at most appearLimit; an interrupt() or the child's end cut the wait short). start()
    // and stop() belong to one thread.
    Outcome start();
    // Ends a wait in start() at once; safe from any thread.
    void interrupt() { interrupted_.request(); }
    // SIGTERM, up to stopLimit for the child to end, then SIGKILL; the child is reaped.
    void stop();

    // The child's process id while it is ours (not yet reaped), otherwise 0.
    pid_t child() const { return child_; }

  private:
    bool devicesOpenable();
    bool spawn();
    // True once the child has ended (and is reaped); an `unexpected` end is said.
    bool reapIfEnded(bool unexpected);
    void say(const std::string& line);

    Settings settings_;
    StopSignal interrupted_;
    pid_t child_ = 0;
};

}  // namespace pellvane::shell
