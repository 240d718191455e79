#include "server/loop_waker.h"

namespace pellvane {

LoopWaker::~LoopWaker() {
    if (socket_ != net::invalidSocket) {
        net::closeSocket(socket_);
    }
}

bool LoopWaker::open() {
    if (socket_ != net::invalidSocket) {
        return true;
    }
    net::SocketHandle socket = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    if (socket == net::invalidSocket) {
        return false;
    }
    int length = 0;
    if (!net::setNonBlocking(socket) || !net::bindLoopback(socket, net::Family::ipv4, 0) ||
        !net::boundPort(socket, port_, length)) {
        net::closeSocket(socket);
        return false;
    }
    socket_ = socket;
    return true;
}

void LoopWaker::wake() {
    if (socket_ == net::invalidSocket) {
        return;
    }
    const std::uint8_t byte = 1;
    // The waker sends to itself; a full buffer means a wake-up is pending anyway.
    net::sendDatagram(socket_, net::Family::ipv4, "127.0.0.1", port_, &byte, 1);
}

void LoopWaker::drain() {
    std::uint8_t buffer[64];
    net::DatagramSource source;
    while (net::receiveDatagram(socket_, buffer, sizeof buffer, source) > 0) {
    }
}

}  // namespace pellvane
