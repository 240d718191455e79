// A client of ViGEmBus for one Xbox 360 controller: find a bus that speaks our version,
// plug the controller in, submit its reports, unplug it. Every call waits for the bus, so
// only the controller's own thread makes them (and start-up, before any pad is there).
#pragma once

#include <chrono>
#include <cstdint>

#include "controller/xusb_report.h"
#include "platform/gamepad_bus.h"

namespace pellvane::vigem {

// How long each request may keep the calling thread; a bus that takes longer is treated
// as one that refused.
struct RequestLimits {
    std::chrono::milliseconds versionCheck{1000};
    std::chrono::milliseconds plugIn{3000};
    // The bus answers once Windows has started the new controller's driver.
    std::chrono::milliseconds deviceReady{5000};
    std::chrono::milliseconds submit{500};
    std::chrono::milliseconds unplug{3000};
};

// Serial numbers tried in turn at each plug-in; another program's controllers hold some.
inline constexpr std::uint32_t firstSerial = 1;
inline constexpr std::uint32_t lastSerial = 16;

class BusClient {
  public:
    explicit BusClient(platform::GamepadBus& bus, RequestLimits limits = {});
    ~BusClient();
    BusClient(const BusClient&) = delete;
    BusClient& operator=(const BusClient&) = delete;

    // Opens the first bus present that accepts our version; true when one is open
    // (already or now).
    bool connect();
    bool connected() const { return handle_ != platform::nullBusHandle; }

    // Plugs the controller in under the first free serial; true when it is plugged in
    // (already or now).
    bool plugIn();
    bool pluggedIn() const { return serial_ != 0; }

    // False when the bus refuses the report: the controller or the bus has gone.
    bool submit(const xusb::Report& report);

    // Unplugs the controller if it is plugged in.
    void unplug();
    // Unplugs, then closes the bus.
    void disconnect();

  private:
    bool control(std::uint32_t code, std::span<const std::uint8_t> request,
                 std::chrono::milliseconds limit);
    bool acceptsOurVersion(platform::BusHandle handle);

    platform::GamepadBus& bus_;
    RequestLimits limits_;
    platform::BusHandle handle_ = platform::nullBusHandle;
    std::uint32_t serial_ = 0;  // 0 while nothing is plugged in
    bool absenceReported_ = false;
};

}  // namespace pellvane::vigem
