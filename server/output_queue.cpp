#include "server/output_queue.h"

#include <algorithm>

namespace pellvane {

void OutputQueue::push(std::span<const std::uint8_t> message) {
    if (message.empty()) {
        return;
    }
    messages_.emplace_back(message.begin(), message.end());
    size_ += message.size();
}

bool OutputQueue::pushBounded(std::span<const std::uint8_t> message) {
    if (size_ + message.size() > relayLimit) {
        return false;
    }
    push(message);
    return true;
}

std::span<const std::uint8_t> OutputQueue::front() const {
    if (messages_.empty()) {
        return {};
    }
    return std::span<const std::uint8_t>(messages_.front()).subspan(sentOfFirst_);
}

void OutputQueue::consume(std::size_t count) {
    count = std::min(count, front().size());
    sentOfFirst_ += count;
    size_ -= count;
    if (!messages_.empty() && sentOfFirst_ == messages_.front().size()) {
        messages_.pop_front();
        sentOfFirst_ = 0;
    }
}

void OutputQueue::clear() {
    messages_.clear();
    sentOfFirst_ = 0;
    size_ = 0;
}

}  // namespace pellvane
