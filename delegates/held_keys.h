// The keys that a pad pressed on this computer and has not released yet, per host, so that a
// pad that goes away (or a Disconnect or Quit) never leaves a key down: a game character
// that keeps running, a Shift that stays pressed.
#pragma once

#include <map>
#include <vector>

#include "platform/keyboard.h"
#include "platform/sockets.h"

namespace pellvane::keys {

class HeldKeys {
  public:
    // Notes a record that was injected for `host`: a press holds its key, a release lets it go.
    void noteSent(const net::HostAddress& host, const keyboard::KeyRecord& record);
    // The releases of every key that `host` holds and no other host holds, in the order
    // the keys went down; the host holds nothing afterwards.
    std::vector<keyboard::KeyRecord> releaseHost(const net::HostAddress& host);
    // The releases of every key that any host holds; nothing is held afterwards.
    std::vector<keyboard::KeyRecord> releaseAll();
    // Whether `host` holds the key that `record` presses or releases.
    bool holds(const net::HostAddress& host, const keyboard::KeyRecord& record) const;
    bool empty() const { return held_.empty(); }

  private:
    struct HostOrder {
        bool operator()(const net::HostAddress& a, const net::HostAddress& b) const;
    };
    // One host's pressed keys, as the records that pressed them, oldest first.
    std::map<net::HostAddress, std::vector<keyboard::KeyRecord>, HostOrder> held_;
};

}  // namespace pellvane::keys
