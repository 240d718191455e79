// The virtual game controller as the pad service's delegate uses it: opened at start-up and
// after each admission, moved by gamepad events, closed at shutdown.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "controller/controller_device.h"
#include "controller/controller_state.h"
#include "controller/gamepad_controller.h"
#include "platform/hid.h"

namespace pellvane {

class VirtualController final : public GamepadController {
  public:
    explicit VirtualController(platform::Hid& hid);
    ~VirtualController() override;
    VirtualController(const VirtualController&) = delete;
    VirtualController& operator=(const VirtualController&) = delete;

    int openController() override;
    // Returns to rest first, so that nothing stays held on the device.
    void closeController() override;
    void lastPadGone() override;
    bool isOpen() const override;
    void handleGamepadEvent(const wire::GamepadEventBody& event) override;

    // A copy of the state that the next report will carry.
    ControllerState state() const;

  private:
    void closeLocked();
    void returnToRestLocked();

    platform::Hid& hid_;
    // Guards controller and controllerState. Start-up and shutdown use them on the main
    // thread, admissions and gamepad events on the pad service's loop thread, and that
    // thread may still run at shutdown: held across the whole open and every report write,
    // so the shutdown close never lands in the middle of either.
    mutable std::mutex lock_;
    std::unique_ptr<ControllerDevice> controller;  // null while closed
    ControllerState controllerState;
};

}  // namespace pellvane
