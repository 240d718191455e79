// pellvane-pad's entry point where the command line arrives as UTF-8.
#include <iostream>
#include <string>
#include <vector>

#include "platform/sockets.h"
#include "server/dnssd_binding.h"
#include "tools/pad_tool.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!pellvane::net::startSocketLibrary()) {
        std::cerr << "pellvane-pad: the socket library did not start" << std::endl;
        return pellvane::tool::exitFailed;
    }
    int code = 0;
    {
        pellvane::dnssd::LibraryScope dnssd;
        pellvane::StopSignal neverStopped;  // the interrupt ends the program instead
        code = pellvane::tool::runPadTool(args, std::cout, std::cerr, neverStopped);
    }
    pellvane::net::stopSocketLibrary();
    return code;
}
