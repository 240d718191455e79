// Drives a server's intake without its loop thread: a loopback client writes bytes, and
// the driver runs the step the loop would run when the socket turns readable. Each cut in
// the stream therefore lands exactly where the input says, on every execution.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "platform/sockets.h"
#include "server/zarvo_server.h"
#include "tests/support/recording_delegate.h"

namespace pellvane::fuzzing {

struct IntakeSettings {
    bool autoAdmit = false;  // a channel service rather than a pad service
    bool refuse = false;     // the delegate declines every Hello
    bool listApps = false;   // admissions hand over a few applications
};

class IntakeDriver {
  public:
    explicit IntakeDriver(const IntakeSettings& settings);
    ~IntakeDriver();
    IntakeDriver(const IntakeDriver&) = delete;
    IntakeDriver& operator=(const IntakeDriver&) = delete;

    // Connects a client that the server accepts as pending; false when loopback fails.
    bool connectClient();
    // Writes the bytes from the client, then runs one header intake for its connection.
    // Does nothing once the server has dropped the client.
    void feed(std::span<const std::uint8_t> bytes);
    // Closes the client's connection and lets the server read to its end, as the loop would.
    void closeClient();
    bool clientWatched() const;
    std::uint32_t watchedCount() const { return server_.watchedCount(); }

    // Sends one datagram to the driver's datagram socket and runs one datagram intake.
    // `foreign` sends it from 127.0.0.2, a host that never connected.
    void datagram(std::span<const std::uint8_t> bytes, bool foreign);

    testing::RecordingDelegate& delegate() { return delegate_; }

  private:
    testing::RecordingDelegate delegate_;
    ZarvoServer server_;
    net::SocketHandle listener_ = net::invalidSocket;
    net::SocketHandle client_ = net::invalidSocket;
    net::SocketHandle accepted_ = net::invalidSocket;  // the server's side; the server closes it
    net::SocketHandle datagramIn_ = net::invalidSocket;
    std::uint16_t datagramPort_ = 0;
    net::SocketHandle localSender_ = net::invalidSocket;
    net::SocketHandle foreignSender_ = net::invalidSocket;
    std::vector<std::uint8_t> datagramBuffer_;
};

}  // namespace pellvane::fuzzing
