#include "tools/pad_program.h"

#include <iostream>

#include "platform/sockets.h"
#include "server/dnssd_binding.h"
#include "tools/pad_tool.h"

namespace pellvane::tool {

int runPadProgram(std::span<const std::string> args) {
    if (!net::startSocketLibrary()) {
        std::cerr << "pellvane-pad: the socket library did not start" << std::endl;
        return exitFailed;
    }
    int code = 0;
    {
        dnssd::LibraryScope dnssd;
        StopSignal neverStopped;  // the interrupt ends the program instead
        code = runPadTool(args, std::cout, std::cerr, neverStopped);
    }
    net::stopSocketLibrary();
    return code;
}

}  // namespace pellvane::tool
