// The Linux program's command line: --debug, --print-keys, --unicode-hex, --terminal and
// --help.
#pragma once

#include <string>

namespace pellvane::shell {

struct ProgramOptions {
    bool debug = false;
    // Print each key record on standard output (always with --debug).
    bool printKeys = false;
    // Type the characters that the US layout lacks as Ctrl+Shift+U sequences.
    bool unicodeHex = false;
    bool help = false;
    // Keep to the terminal even on a desktop: no tray, questions on standard input.
    bool terminal = false;
    // Set when the command line is not understood; the program says so and exits 2.
    std::string error;
};

ProgramOptions parseProgramOptions(int argc, const char* const* argv);

// What --help prints.
const char* helpText();

inline constexpr int usageExitCode = 2;

}  // namespace pellvane::shell
