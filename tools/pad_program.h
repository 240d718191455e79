// What pellvane-pad's entry points share once the arguments are UTF-8: the socket and
// DNS-SD libraries around one run of the tool on the standard streams.
#pragma once

#include <span>
#include <string>

namespace pellvane::tool {

// `args` excludes the program name; the result is the program's exit code.
int runPadProgram(std::span<const std::string> args);

}  // namespace pellvane::tool
