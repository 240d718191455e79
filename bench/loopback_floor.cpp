#include "bench/loopback_floor.h"

#include <vector>

#include "bench/pad_client.h"
#include "server/frame_decoder.h"
#include "server/wire_reading.h"

namespace pellvane::bench {
namespace {

// The poll timeout only lets the thread see that it should end.
constexpr int readyPollMs = 50;

}  // namespace

bool FloorReceiver::start(bool withStream) {
    int length = 0;
    datagrams_ = net::openSocket(net::Family::ipv4, net::Transport::datagram);
    if (datagrams_ == net::invalidSocket || !net::bindLoopback(datagrams_, net::Family::ipv4, 0) ||
        !net::boundPort(datagrams_, datagramPort_, length) || (withStream && !openStream())) {
        return false;
    }
    thread_ = std::thread([this] { receive(); });
    return true;
}

bool FloorReceiver::openStream() {
    std::uint16_t port = 0;
    int length = 0;
    listener_ = net::openSocket(net::Family::ipv4, net::Transport::stream);
    if (listener_ == net::invalidSocket || !net::bindLoopback(listener_, net::Family::ipv4, 0) ||
        !net::boundPort(listener_, port, length) || !net::listenOn(listener_, 1)) {
        return false;
    }
    streamClient_ = connectLoopback(port);
    if (streamClient_ == net::invalidSocket) {
        return false;
    }
    stream_ = net::acceptConnection(listener_);
    return stream_ != net::invalidSocket;
}

void FloorReceiver::stop() {
    done_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
    for (net::SocketHandle* socket : {&datagrams_, &listener_, &stream_, &streamClient_}) {
        if (*socket != net::invalidSocket) {
            net::closeSocket(*socket);
            *socket = net::invalidSocket;
        }
    }
}

void FloorReceiver::receive() {
    std::vector<std::uint8_t> buffer(65535);
    FrameDecoder stream;
    const net::SocketHandle sockets[] = {datagrams_, stream_};
    net::ReadinessFlags flags[2];
    // Without a stream only the datagram socket is watched.
    const std::size_t watched = stream_ == net::invalidSocket ? 1 : 2;
    while (!done_.load()) {
        if (net::waitForReadiness(std::span(sockets, watched), std::span(flags, watched),
                                  readyPollMs) <= 0) {
            continue;
        }
        if (flags[0].readable) {
            net::DatagramSource source;
            const int received =
                net::receiveDatagram(datagrams_, buffer.data(), buffer.size(), source);
            if (received > 0) {
                if (const auto message = wire::wholeMessage(
                        std::span(buffer).first(static_cast<std::size_t>(received)))) {
                    onMessage_(*message);
                }
            }
        }
        if (watched == 2 && flags[1].readable) {
            const std::span<std::uint8_t> room = stream.receiveSpace();
            const int received = net::receiveSome(stream_, room.data(), room.size());
            stream.received(received > 0 ? static_cast<std::size_t>(received) : 0);
            while (const auto message = stream.next()) {
                onMessage_(*message);
            }
        }
    }
}

}  // namespace pellvane::bench
