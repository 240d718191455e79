#include "fuzz/support/intake_driver.h"

#include <chrono>

namespace pellvane::fuzzing {
namespace {

constexpr std::size_t datagramBufferSize = 65535;
constexpr int ipv4SourceLength = 16;
constexpr int acceptWaitMs = 1000;
// More passes than a stream of fuzz input can need to be read to its end.
constexpr int maxPassesAfterClose = 1 << 20;

net::SocketHandle datagramSocketOn(const char* host) {
    const net::SocketHandle socket = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    if (socket != net::invalidSocket && !net::bindAddress(socket, net::Family::ipv4, host, 0)) {
        net::closeSocket(socket);
        return net::invalidSocket;
    }
    return socket;
}

void closeIfOpen(net::SocketHandle& socket) {
    if (socket != net::invalidSocket) {
        net::closeSocket(socket);
        socket = net::invalidSocket;
    }
}

}  // namespace

IntakeDriver::IntakeDriver(const IntakeSettings& settings)
    : server_("FuzzHost", settings.autoAdmit ? "_kespchan._tcp" : "_kesp._tcp",
              settings.autoAdmit ? "local." : ""),
      datagramBuffer_(datagramBufferSize) {
    server_.setAutoAdmit(settings.autoAdmit);
    server_.setDelegate(&delegate_);
    delegate_.setAdmitAnswer(settings.refuse ? 0 : 1);
    if (settings.listApps) {
        std::vector<wire::AppNameRecord> apps(3);
        apps[0].setName("notepad");
        apps[1].setName("calc");
        apps[2].setName(std::string(200, 'x'));
        delegate_.setApplications(apps);
    }
    listener_ = net::openSocket(net::Family::ipv4, net::Transport::stream);
    int length = 0;
    std::uint16_t port = 0;
    if (listener_ == net::invalidSocket || !net::bindLoopback(listener_, net::Family::ipv4, 0) ||
        !net::listenOn(listener_, 4)) {
        closeIfOpen(listener_);
    }
    datagramIn_ = datagramSocketOn("127.0.0.1");
    if (datagramIn_ != net::invalidSocket && net::boundPort(datagramIn_, port, length)) {
        datagramPort_ = port;
        net::setNonBlocking(datagramIn_);
    }
    localSender_ = datagramSocketOn("127.0.0.1");
    foreignSender_ = datagramSocketOn("127.0.0.2");
}

IntakeDriver::~IntakeDriver() {
    server_.shutDown();  // closes the accepted side if the server still holds it
    closeIfOpen(client_);
    closeIfOpen(listener_);
    closeIfOpen(datagramIn_);
    closeIfOpen(localSender_);
    closeIfOpen(foreignSender_);
}

bool IntakeDriver::connectClient() {
    std::uint16_t port = 0;
    int length = 0;
    if (listener_ == net::invalidSocket || !net::boundPort(listener_, port, length)) {
        return false;
    }
    client_ = net::openSocket(net::Family::ipv4, net::Transport::stream);
    if (client_ == net::invalidSocket ||
        !net::connectTo(client_, net::Family::ipv4, "127.0.0.1", port)) {
        return false;
    }
    net::ReadinessFlags flags[1];
    const net::SocketHandle sockets[1] = {listener_};
    if (net::waitForReadiness(sockets, flags, acceptWaitMs) <= 0) {
        return false;
    }
    server_.acceptClient(listener_);
    std::lock_guard guard(server_.lock_);
    const auto pending = server_.pendingClients_.entries();
    if (pending.size() != 1) {
        return false;
    }
    accepted_ = pending[0];
    return true;
}

bool IntakeDriver::clientWatched() const {
    std::lock_guard guard(server_.lock_);
    return accepted_ != net::invalidSocket && server_.watchedSockets_.contains(accepted_);
}

void IntakeDriver::feed(std::span<const std::uint8_t> bytes) {
    if (!clientWatched()) {
        return;  // dropped: the handle is closed and may belong to something else now
    }
    if (!bytes.empty() && !net::sendAll(client_, bytes.data(), bytes.size(), acceptWaitMs)) {
        return;
    }
    server_.takeHeader(accepted_);
}

void IntakeDriver::closeClient() {
    closeIfOpen(client_);
    // The loop keeps finding the socket readable until it has read what is left and then
    // the end of the stream; each pass takes at least one byte, so this ends.
    for (int pass = 0; pass < maxPassesAfterClose && clientWatched(); ++pass) {
        server_.takeHeader(accepted_);
    }
}

void IntakeDriver::datagram(std::span<const std::uint8_t> bytes, bool foreign) {
    const net::SocketHandle sender = foreign ? foreignSender_ : localSender_;
    if (sender == net::invalidSocket || datagramPort_ == 0) {
        return;
    }
    if (net::sendDatagram(sender, net::Family::ipv4, "127.0.0.1", datagramPort_, bytes.data(),
                          bytes.size()) != static_cast<int>(bytes.size())) {
        return;
    }
    server_.takeDatagram(datagramIn_, ipv4SourceLength, datagramBuffer_);
}

}  // namespace pellvane::fuzzing
