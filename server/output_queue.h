// What waits to be sent to one client, whole messages in the order they were queued, written
// as the connection takes it. A client that reads slowly delays only itself: nobody waits for
// it, and a relayed message that would make its queue too long is skipped for it, never cut.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

namespace pellvane {

class OutputQueue {
  public:
    // Relayed messages are skipped for a client with this much waiting already: more than a
    // second of a 2 Mbit/s link's worth of 65 KB channel events.
    static constexpr std::size_t relayLimit = std::size_t{1} << 20;

    // Replies of the client's own (HelloReply, UdpInfo, Refusal) always go in.
    void push(std::span<const std::uint8_t> message);
    // A relayed message, unless it would take the queue past relayLimit.
    bool pushBounded(std::span<const std::uint8_t> message);

    bool empty() const { return size_ == 0; }
    std::size_t size() const { return size_; }
    // The unsent rest of the first message. Pushes leave it where it is, so the one thread
    // that sends may use it while others queue more.
    std::span<const std::uint8_t> front() const;
    // The first `count` bytes of front() went out.
    void consume(std::size_t count);
    void clear();

  private:
    std::deque<std::vector<std::uint8_t>> messages_;
    std::size_t sentOfFirst_ = 0;
    std::size_t size_ = 0;  // bytes waiting in all
};

}  // namespace pellvane
