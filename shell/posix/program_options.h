// The Linux program's command line: --debug and --help, nothing else.
#pragma once

#include <string>

namespace pellvane::shell {

struct ProgramOptions {
    bool debug = false;
    bool help = false;
    // Set when the command line is not understood; the program says so and exits 2.
    std::string error;
};

ProgramOptions parseProgramOptions(int argc, const char* const* argv);

// What --help prints.
const char* helpText();

inline constexpr int usageExitCode = 2;

}  // namespace pellvane::shell
