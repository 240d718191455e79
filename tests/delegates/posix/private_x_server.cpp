#include "tests/delegates/posix/private_x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace pellvane::testing {
namespace {

constexpr char xvfbPath[] = "/usr/bin/Xvfb";

}  // namespace

bool PrivateXServer::installed() {
    return ::access(xvfbPath, X_OK) == 0;
}

// Xvfb writes its display number to descriptor 3 once it accepts connections.
std::optional<std::string> PrivateXServer::start() {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    server_ = ::fork();
    if (server_ == 0) {
        ::dup2(pipeEnds[1], 3);
        ::fcntl(3, F_SETFD, 0);  // dup2 onto itself keeps close-on-exec
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        ::dup2(quiet, 2);
        ::execl(xvfbPath, "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0",
                "640x480x24", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    std::string number;
    pollfd ready{pipeEnds[0], POLLIN, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (server_ > 0 && std::chrono::steady_clock::now() < deadline &&
           ::poll(&ready, 1, 100) >= 0) {
        if ((ready.revents & (POLLIN | POLLHUP)) == 0) {
            continue;
        }
        char c = 0;
        if (::read(pipeEnds[0], &c, 1) != 1 || c == '\n') {
            break;
        }
        number += c;
    }
    ::close(pipeEnds[0]);
    if (number.empty()) {
        stop();
        return std::nullopt;
    }
    return ":" + number;
}

void PrivateXServer::stop() {
    if (server_ > 0) {
        ::kill(server_, SIGTERM);
        ::waitpid(server_, nullptr, 0);
        server_ = -1;
    }
}

}  // namespace pellvane::testing
