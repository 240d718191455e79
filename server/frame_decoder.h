// Turns a TCP byte stream into whole messages, wherever the stream was cut.
//
// The decoder holds at most 65535 bytes, the largest valid message: what has arrived of the
// message under way, and whole messages that came with it and have not been taken yet. Its
// buffer grows only as far as the messages need, so an idle connection costs little. A
// header whose packetSize lies outside 12 to 65535 is dropped, its 12 bytes alone, and the
// bytes after it are read as the next header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "server/wire_protocol.h"

namespace pellvane {

class FrameDecoder {
  public:
    static constexpr std::size_t capacity = wire::MAXUINT16;
    // The room a receive gets at first; it doubles each time a receive fills it, so a busy
    // connection is read in large pieces and a quiet one costs little.
    static constexpr std::size_t firstChunk = 512;

    // The free room after the bytes held, for one receive call to fill: the current chunk,
    // within the capacity. Never empty while a message is incomplete; empty when whole
    // messages fill the decoder (take them first).
    std::span<std::uint8_t> receiveSpace();
    // Counts the first `count` bytes of receiveSpace() as received.
    void received(std::size_t count);
    // Copies in as many of `bytes` as there is room for; returns how many.
    std::size_t feed(std::span<const std::uint8_t> bytes);

    // The next whole message, or nothing until more bytes have arrived.
    std::optional<ReceivedMessage> next();
    // Whether next() would give a message now.
    bool hasMessage() const;
    std::size_t held() const { return end_ - start_; }
    // Headers dropped for their packetSize so far: a client can tell that its peer's stream
    // no longer makes sense.
    std::size_t discardedHeaders() const { return discardedHeaders_; }
    void clear();

  private:
    // What lies at the front of the bytes held: how many out-of-range headers come first,
    // and the header after them when its whole message has arrived.
    struct Front {
        std::size_t badHeaders = 0;
        std::optional<wire::MessageHeader> whole;
    };
    Front front() const;

    std::vector<std::uint8_t> buffer_;  // never more than `capacity` bytes
    std::size_t start_ = 0;             // the first byte not yet taken
    std::size_t end_ = 0;               // one past the last byte received
    std::size_t chunk_ = firstChunk;
    std::size_t discardedHeaders_ = 0;
};

}  // namespace pellvane
