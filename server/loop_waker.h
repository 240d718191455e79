// Wakes a select loop from another thread: a loopback datagram socket that the loop waits
// on beside its own sockets, and that stop() sends one byte to.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace pellvane {

class LoopWaker {
  public:
    LoopWaker() = default;
    LoopWaker(const LoopWaker&) = delete;
    LoopWaker& operator=(const LoopWaker&) = delete;

    // Opens the socket once; false when the system refuses it.
    bool open();
    net::SocketHandle socket() const { return socket_.get(); }
    void wake();
    // Reads every pending wake-up byte.
    void drain();

  private:
    net::Socket socket_;
    std::uint16_t port_ = 0;
};

}  // namespace pellvane
