// The select set layout: a count and 64 handles, ordered, each held at most once.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "platform/sockets.h"

namespace pellvane {

class SocketSet {
  public:
    static constexpr std::uint32_t capacity = 64;

    // Appends when absent and there is room; false when the handle is not in the set after.
    bool add(net::SocketHandle socket);
    // Shifts the later entries down; removing an absent handle changes nothing.
    void remove(net::SocketHandle socket);
    bool contains(net::SocketHandle socket) const;
    void clear() { count_ = 0; }
    bool full() const { return count_ == capacity; }

    std::uint32_t count() const { return count_; }
    net::SocketHandle operator[](std::uint32_t index) const { return entries_[index]; }
    std::span<const net::SocketHandle> entries() const { return {entries_.data(), count_}; }

  private:
    std::uint32_t count_ = 0;
    std::array<net::SocketHandle, capacity> entries_{};
};

}  // namespace pellvane
