// The floor of a benchmark: a thread that waits for readiness and reads messages, as the
// server's loop does (one datagram, or one receive from the stream and every whole message
// it completed), and does nothing else with them but hand them on.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "platform/sockets.h"
#include "server/wire_protocol.h"

namespace pellvane::bench {

class FloorReceiver {
  public:
    // Called on the receiving thread with every whole message.
    using Handler = std::function<void(const ReceivedMessage&)>;

    explicit FloorReceiver(Handler onMessage) : onMessage_(std::move(onMessage)) {}
    ~FloorReceiver() { stop(); }
    FloorReceiver(const FloorReceiver&) = delete;
    FloorReceiver& operator=(const FloorReceiver&) = delete;

    // Opens a datagram socket and, with `withStream`, a connected loopback stream; false
    // when loopback fails.
    bool start(bool withStream = false);
    // Ends the thread and closes every socket; a measurement may need the thread gone.
    void stop();

    std::uint16_t datagramPort() const { return datagramPort_; }
    // The sending end of the stream.
    net::SocketHandle streamClient() const { return streamClient_; }

  private:
    bool openStream();
    void receive();

    Handler onMessage_;
    net::SocketHandle datagrams_ = net::invalidSocket;
    net::SocketHandle listener_ = net::invalidSocket;
    net::SocketHandle stream_ = net::invalidSocket;
    net::SocketHandle streamClient_ = net::invalidSocket;
    std::uint16_t datagramPort_ = 0;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace pellvane::bench
