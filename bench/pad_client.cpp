#include "bench/pad_client.h"

#include "server/frame_decoder.h"
#include "server/wire_building.h"
#include "tools/message_stream.h"

namespace pellvane::bench {
namespace {

constexpr int admissionTimeoutMs = 3000;

bool receiveType(net::SocketHandle socket, FrameDecoder& frames, std::uint32_t type) {
    ReceivedMessage message;
    return tool::readMessage(socket, frames, message, admissionTimeoutMs) ==
               tool::ReadStatus::message &&
           message.header.type == type;
}

}  // namespace

net::SocketHandle connectLoopback(std::uint16_t port, const char* from) {
    const net::SocketHandle socket = net::openSocket(net::Family::ipv4, net::Transport::stream);
    if (socket != net::invalidSocket &&
        (!net::bindAddress(socket, net::Family::ipv4, from, 0) ||
         !net::connectTo(socket, net::Family::ipv4, "127.0.0.1", port))) {
        net::closeSocket(socket);
        return net::invalidSocket;
    }
    return socket;
}

net::SocketHandle admitPadClient(std::uint16_t port, const char* from) {
    const net::SocketHandle socket = connectLoopback(port, from);
    if (socket == net::invalidSocket) {
        return socket;
    }
    const Message hello = wire::buildHello("Bench pad");
    FrameDecoder frames;
    if (!net::sendAll(socket, hello.data(), hello.size(), admissionTimeoutMs) ||
        !receiveType(socket, frames, wire::HelloReply) ||
        !receiveType(socket, frames, wire::UdpInfo)) {
        net::closeSocket(socket);
        return net::invalidSocket;
    }
    return socket;
}

}  // namespace pellvane::bench
