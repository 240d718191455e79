// What the tray menu shows and does, behind an interface so that the window can be driven
// without real services: the program hands it the running Application.
#pragma once

#include <cstdint>

namespace pellvane::shell::win32 {

class TrayActions {
  public:
    virtual ~TrayActions() = default;
    // The channel service's TCP port, 0 while it has none.
    virtual std::uint16_t channelPort() const = 0;
    // Whether a pad client is connected, pending or admitted.
    virtual bool padClientConnected() const = 0;
    // Drops every pad client; the pad service comes back on new ports.
    virtual void disconnect() = 0;
};

}  // namespace pellvane::shell::win32
