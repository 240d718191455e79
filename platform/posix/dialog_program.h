// Message boxes and questions on a desktop, shown by a dialog program run as a child process:
// zenity where it is installed, else kdialog. For a desktop with a display but nothing else
// to put a question to the user (no notification server that shows actions).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace pellvane::dialogs {

// The environment that the dialog program is looked for in and run with, as "NAME=value"
// entries: PATH says where to look, DISPLAY or WAYLAND_DISPLAY that there is a desktop.
struct DialogProgramEnvironment {
    std::vector<std::string> variables;

    // A copy of this process's environment.
    static DialogProgramEnvironment ofThisProcess();
};

// Dialogs that run zenity, or kdialog where there is no zenity, found on PATH (absolute
// directories only); nullptr when no display is named or neither program is found.
//
// A question's program exits 0 for OK or Yes; any other end (the refusing button, Escape,
// the window closed, a program that fails, is killed or cannot be started) gives the
// refusing button. Questions are put one at a time; closeQuestions() ends the one on
// screen and refuses those waiting for their turn too. A plain box that cannot be shown
// gives boxFailed.
std::unique_ptr<Dialogs> createDialogProgramDialogs(
    const DialogProgramEnvironment& environment = DialogProgramEnvironment::ofThisProcess());

}  // namespace pellvane::dialogs
