// Starts the pad service and the channel service against the system's DNS-SD library and
// reports what happens, one line per event on stdout, for a driver script to follow:
//   started <type> <tcp port> <service name>
//   published <type>
//   stopped <type>
//   start-failed <type>
// Commands arrive as lines on stdin: "restart" stops both services and starts them again
// (on new ports, as a restart after a failure does); any other line, the end of stdin,
// SIGINT or SIGTERM stops both and ends the program, with status 0 when every start worked.
// An optional argument names the DNS-SD library to load instead of the system's.
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
    int shouldAdmitClient(ZarvoServer*, const ReceivedMessage*) override { return 0; }
    std::unique_ptr<wire::AppList> applicationList(ZarvoServer*, const ReceivedMessage*) override {
        return nullptr;
    }
    void serverDidReceiveMessage(ZarvoServer*, ReceivedMessage) override {}
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

enum class Request { restart, stop };

// Reads stdin line by line, raw, so that no line waits unseen in a stdio buffer while the
// program waits for the descriptor.
class RequestReader {
  public:
    explicit RequestReader(int signalDescriptor) : signalDescriptor_(signalDescriptor) {}

    Request next() {
        for (;;) {
            const auto end = pending_.find('\n');
            if (end != std::string::npos) {
                const std::string line = pending_.substr(0, end);
                pending_.erase(0, end + 1);
                return line == "restart" ? Request::restart : Request::stop;
            }
            if (!waitForInput()) {
                return Request::stop;
            }
            char chunk[256];
            const ssize_t received = read(STDIN_FILENO, chunk, sizeof chunk);
            if (received <= 0) {
                return Request::stop;  // stdin ended (or failed): nobody can ask any more
            }
            pending_.append(chunk, static_cast<std::size_t>(received));
        }
    }

  private:
    // False when a stop signal came (or the wait itself failed).
    bool waitForInput() {
        std::array<pollfd, 2> watched{{{STDIN_FILENO, POLLIN, 0}, {signalDescriptor_, POLLIN, 0}}};
        const nfds_t count = signalDescriptor_ >= 0 ? 2 : 1;
        int ready = 0;
        // An unrelated signal may interrupt the wait.
        while ((ready = poll(watched.data(), count, -1)) < 0 && errno == EINTR) {
        }
        return ready > 0 && watched[1].revents == 0;
    }

    int signalDescriptor_;
    std::string pending_;
};

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
        RequestReader requests(stopSignals);
        bool started = startAndReport(pad) && startAndReport(channel);
        while (started && requests.next() == Request::restart) {
            pad.stop();
            channel.stop();
            started = startAndReport(pad) && startAndReport(channel);
        }
        pad.stop();
        channel.stop();
        status = started ? 0 : 2;
        pad.shutDown();
        channel.shutDown();
    }
    net::stopSocketLibrary();
    if (stopSignals >= 0) {
        close(stopSignals);
    }
    return status;
}
