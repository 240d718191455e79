// A virtual gamepad bus: a driver that plugs in virtual game controllers on request
// (ViGEmBus on Windows). The seam finds its device interfaces, opens one, sends it control
// requests and closes it; what the requests mean is controller/'s business.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace pellvane::platform {

// An open bus device; null means none.
using BusHandle = std::intptr_t;
inline constexpr BusHandle nullBusHandle = 0;

class GamepadBus {
  public:
    virtual ~GamepadBus() = default;

    // The device paths of the buses present, in enumeration order, appended to `paths`;
    // false when the list cannot be had (lastError() says why). No bus is an empty list.
    virtual bool busPaths(std::vector<std::string>& paths) = 0;
    // nullBusHandle when the device cannot be opened.
    virtual BusHandle open(const std::string& path) = 0;
    // Sends one control request with `request` as its input and no output, and waits for
    // the bus's answer for at most `limit`: false when it refuses the request or does not
    // answer in time (then the request is cancelled before this returns).
    virtual bool control(BusHandle bus, std::uint32_t code, std::span<const std::uint8_t> request,
                         std::chrono::milliseconds limit) = 0;
    virtual void close(BusHandle bus) = 0;

    // The platform's error code of the last call that failed on this thread.
    virtual std::uint32_t lastError() = 0;
};

// The operating system's buses; lives for the whole process. Linux has none (its virtual
// controller is a program of ours), so there the list is always empty.
GamepadBus& systemGamepadBus();

}  // namespace pellvane::platform
