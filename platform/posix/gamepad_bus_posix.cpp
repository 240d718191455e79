// Linux has no virtual gamepad bus to talk to: pellvane-vpad presents the controller.
#include <cerrno>

#include "platform/gamepad_bus.h"

namespace pellvane::platform {
namespace {

class NoGamepadBus final : public GamepadBus {
  public:
    bool busPaths(std::vector<std::string>&) override { return true; }
    BusHandle open(const std::string&) override { return nullBusHandle; }
    bool control(BusHandle, std::uint32_t, std::span<const std::uint8_t>,
                 std::chrono::milliseconds) override {
        return false;
    }
    void close(BusHandle) override {}
    std::uint32_t lastError() override { return ENODEV; }
};

}  // namespace

GamepadBus& systemGamepadBus() {
    static NoGamepadBus bus;
    return bus;
}

}  // namespace pellvane::platform
