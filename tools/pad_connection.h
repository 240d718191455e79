// One client connection to a pad or channel service: finds the host, connects, reads whole
// messages with a time limit, and sends messages and datagrams to the same host.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/sockets.h"
#include "server/frame_decoder.h"
#include "server/wire_protocol.h"
#include "tools/message_stream.h"

namespace pellvane::tool {

class PadConnection {
  public:
    PadConnection() = default;
    PadConnection(const PadConnection&) = delete;
    PadConnection& operator=(const PadConnection&) = delete;

    enum class OpenStatus { connected, unknownHost, unreachable };
    // Tries each address of the host in the resolver's order until one connects; an address
    // that does not answer within ten seconds is passed over. A name in the "local" domain
    // that the resolver does not know is looked up through DNS-SD.
    OpenStatus open(const std::string& host, std::uint16_t port);
    void close();

    // Writes a whole message; false when the connection is gone.
    bool send(std::span<const std::uint8_t> message);
    // One datagram to `port` on the connected address, from the connected family.
    bool sendDatagram(std::uint16_t port, std::span<const std::uint8_t> datagram);

    // The next whole message, waiting up to `timeoutMs`.
    ReadStatus read(ReceivedMessage& message, int timeoutMs);

    net::Family family() const { return address_.family; }
    const char* address() const { return address_.text.data(); }

  private:
    net::Socket socket_;
    net::Socket datagramSocket_;
    net::NumericAddress address_;
    FrameDecoder received_;  // bytes read but not yet handed out as a message
};

}  // namespace pellvane::tool
