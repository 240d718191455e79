// pellvane-pad's entry point where the command line arrives as UTF-8.
#include <string>
#include <vector>

#include "tools/pad_program.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    return pellvane::tool::runPadProgram(args);
}
