#include "server/frame_decoder.h"

#include <algorithm>
#include <cstring>

#include "server/wire_reading.h"

namespace pellvane {

std::span<std::uint8_t> FrameDecoder::receiveSpace() {
    if (start_ > 0) {
        // The message under way moves to the front, so that the room after it is as large
        // as it can be.
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    // Grown as bytes come, not as headers announce: a header alone claims no memory.
    const std::size_t wanted = std::min(capacity, end_ + chunk_);
    if (buffer_.size() < wanted) {
        buffer_.resize(wanted);
    }
    return {buffer_.data() + end_, buffer_.size() - end_};
}

void FrameDecoder::received(std::size_t count) {
    const std::size_t room = buffer_.size() - end_;
    if (count >= room) {
        chunk_ = std::min(capacity, 2 * chunk_);  // more was waiting, most likely
    }
    end_ += std::min(count, room);
}

std::size_t FrameDecoder::feed(std::span<const std::uint8_t> bytes) {
    std::size_t taken = 0;
    while (taken < bytes.size()) {
        const std::span<std::uint8_t> room = receiveSpace();
        const std::size_t part = std::min(room.size(), bytes.size() - taken);
        if (part == 0) {
            break;
        }
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(taken), part, room.begin());
        received(part);
        taken += part;
    }
    return taken;
}

FrameDecoder::Front FrameDecoder::front() const {
    Front found;
    std::size_t position = start_;
    while (end_ - position >= wire::headerSize) {
        const auto bytes = std::span(buffer_).subspan(position, end_ - position);
        const std::optional<wire::MessageHeader> header = wire::readHeader(bytes);
        if (!wire::isValidPacketSize(header->packetSize)) {
            ++found.badHeaders;
            position += wire::headerSize;
            continue;
        }
        if (bytes.size() >= header->packetSize) {
            found.whole = header;
        }
        break;
    }
    return found;
}

std::optional<ReceivedMessage> FrameDecoder::next() {
    const Front found = front();
    start_ += found.badHeaders * wire::headerSize;
    discardedHeaders_ += found.badHeaders;
    if (!found.whole) {
        return std::nullopt;
    }
    const auto begin = buffer_.begin() + static_cast<std::ptrdiff_t>(start_);
    ReceivedMessage message{*found.whole, Message(begin, begin + found.whole->packetSize)};
    start_ += found.whole->packetSize;
    return message;
}

bool FrameDecoder::hasMessage() const {
    return front().whole.has_value();
}

void FrameDecoder::clear() {
    start_ = end_ = 0;
    buffer_ = {};
    chunk_ = firstChunk;
}

}  // namespace pellvane
