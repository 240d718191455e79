// The pellvane-pad program without its entry point: runs one command line and reports
// through the given streams, so that tests can run it beside a server.
#pragma once

#include <ostream>
#include <span>
#include <string>

#include "platform/threads.h"

namespace pellvane::tool {

enum ExitCode : int {
    exitDone = 0,
    exitFailed = 1,
    exitBadArguments = 2,
    exitCannotConnect = 3,
    exitRefused = 4,
    exitConnectionClosed = 5,
    exitNoService = 6,
};

// `args` excludes the program name. `stop` ends a command that runs until interrupted
// (connect); the program itself never requests it and ends by the interrupt.
int runPadTool(std::span<const std::string> args, std::ostream& out, std::ostream& err,
               const StopSignal& stop);

}  // namespace pellvane::tool
