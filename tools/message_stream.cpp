#include "tools/message_stream.h"

#include <chrono>

namespace pellvane::tool {
namespace {

using Clock = std::chrono::steady_clock;

int millisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

ReadStatus readMessage(net::SocketHandle socket, FrameDecoder& frames, ReceivedMessage& message,
                       int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t discarded = frames.discardedHeaders();
        std::optional<ReceivedMessage> next = frames.next();
        if (frames.discardedHeaders() != discarded) {
            return ReadStatus::malformed;
        }
        if (next) {
            message = std::move(*next);
            return ReadStatus::message;
        }
        net::ReadinessFlags flags[1];
        const net::SocketHandle sockets[1] = {socket};
        const int ready = net::waitForReadiness(sockets, flags, millisecondsLeft(deadline));
        if (ready < 0) {
            return ReadStatus::closed;
        }
        if (ready == 0 || !flags[0].readable) {
            if (millisecondsLeft(deadline) == 0) {
                return ReadStatus::timedOut;
            }
            continue;
        }
        const std::span<std::uint8_t> room = frames.receiveSpace();
        const int received = net::receiveSome(socket, room.data(), room.size());
        if (received == 0 || received == net::transferFailed) {
            return ReadStatus::closed;
        }
        if (received > 0) {
            frames.received(static_cast<std::size_t>(received));
        }
    }
}

}  // namespace pellvane::tool
