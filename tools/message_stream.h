// The client side of a connection's stream: whole messages read from a connected socket,
// waiting at most a given time. Shared by pellvane-pad, the tests' pad client and the
// benchmarks.
#pragma once

#include "platform/sockets.h"
#include "server/frame_decoder.h"
#include "server/wire_protocol.h"

namespace pellvane::tool {

enum class ReadStatus { message, timedOut, closed, malformed };

// The next whole message of the stream into `message`. `frames` keeps what arrived beyond
// it for the next call, so one decoder belongs to one connection. `malformed` means a header
// with an impossible size came: the peer's stream can no longer be trusted.
ReadStatus readMessage(net::SocketHandle socket, FrameDecoder& frames, ReceivedMessage& message,
                       int timeoutMs);

}  // namespace pellvane::tool
