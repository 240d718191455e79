#include "server/loop_waker.h"

#include <utility>

namespace pellvane {

bool LoopWaker::open() {
    if (socket_) {
        return true;
    }
    net::Socket socket(net::openSocket(net::Family::ipv4, net::Transport::datagram));
    int length = 0;
    if (!socket || !net::setNonBlocking(socket.get()) ||
        !net::bindLoopback(socket.get(), net::Family::ipv4, 0) ||
        !net::boundPort(socket.get(), port_, length)) {
        return false;
    }
    socket_ = std::move(socket);
    return true;
}

void LoopWaker::wake() {
    if (!socket_) {
        return;
    }
    const std::uint8_t byte = 1;
    // The waker sends to itself; a full buffer means a wake-up is pending anyway.
    net::sendDatagram(socket_.get(), net::Family::ipv4, "127.0.0.1", port_, &byte, 1);
}

void LoopWaker::drain() {
    std::uint8_t buffer[64];
    net::DatagramSource source;
    while (net::receiveDatagram(socket_.get(), buffer, sizeof buffer, source) > 0) {
    }
}

}  // namespace pellvane
