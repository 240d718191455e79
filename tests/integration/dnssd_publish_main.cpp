// Starts the pad service and the channel service against the system's DNS-SD library and
// reports what happens, one line per event on stdout, for a driver script to follow:
//   started <type> <tcp port> <service name>
//   published <type>
//   stopped <type>
//   start-failed <type>
// A line on stdin, the end of stdin, SIGINT or SIGTERM stops both services; the program then
// exits 0. An optional argument names the DNS-SD library to load instead of the system's.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

#include "platform/sockets.h"
#include "server/dnssd_binding.h"
#include "server/zarvo_server.h"

namespace {

using namespace pellvane;

// Two loop threads and the main thread report; one line must never split another.
std::mutex outputLock;

void report(const std::string& line) {
    std::lock_guard guard(outputLock);
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

class ReportingDelegate : public ZarvoConnectionDelegate {
  public:
    void serverDidPublish(ZarvoServer* server) override {
        report(std::string("published ") + server->serviceType());
    }
    void serverDidStop(ZarvoServer* server) override {
        report(std::string("stopped ") + server->serviceType());
    }
    void resetRetryCount(ZarvoServer*) override {}
    void serverDidAdmitClient(ZarvoServer*) override {}
    void reservedNotification(ZarvoServer*) override {}
    // Nobody is admitted: this program only shows that the services are announced.
    int shouldAdmitClient(ZarvoServer*, const Message*) override { return 0; }
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer*, const Message*) override {
        return nullptr;
    }
    void serverDidReceiveMessage(ZarvoServer*, Message) override {}
};

bool startAndReport(ZarvoServer& server) {
    const std::uint16_t port = server.start();
    if (port == ZarvoServer::startFailed) {
        report(std::string("start-failed ") + server.serviceType());
        return false;
    }
    report(std::string("started ") + server.serviceType() + " " + std::to_string(port) + " " +
           server.serviceName());
    return true;
}

// A signalfd for SIGINT and SIGTERM, which are blocked for every thread so that only this
// descriptor sees them. Must run before any thread starts.
int openStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    if (pthread_sigmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return -1;
    }
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

// Returns when stdin has a line or has ended, or a stop signal came.
void waitForStopRequest(int signalDescriptor) {
    std::array<pollfd, 2> watched{{{STDIN_FILENO, POLLIN, 0}, {signalDescriptor, POLLIN, 0}}};
    const nfds_t count = signalDescriptor >= 0 ? 2 : 1;
    // An unrelated signal may interrupt the wait; any other failure stops as a request would.
    while (poll(watched.data(), count, -1) < 0 && errno == EINTR) {
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int stopSignals = openStopSignals();
    if (stopSignals < 0) {
        std::perror("signalfd");
    }
    dnssd::LibraryScope library(argc > 1 ? argv[1] : nullptr);
    if (!net::startSocketLibrary()) {
        std::fprintf(stderr, "the socket library did not start\n");
        return 1;
    }
    int status = 0;
    {
        // The delegate outlives both servers, whose destructors detach it.
        ReportingDelegate delegate;
        ZarvoServer pad(nullptr, "_kesp._tcp", "");
        ZarvoServer channel(nullptr, "_kespchan._tcp", "local.");
        channel.setAutoAdmit(true);
        pad.setDelegate(&delegate);
        channel.setDelegate(&delegate);
        if (startAndReport(pad) && startAndReport(channel)) {
            waitForStopRequest(stopSignals);
            pad.stop();
            channel.stop();
        } else {
            status = 2;
        }
        pad.shutDown();
        channel.shutDown();
    }
    net::stopSocketLibrary();
    if (stopSignals >= 0) {
        close(stopSignals);
    }
    return status;
}
