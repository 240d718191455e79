// The controller that the pad service moves: the HID device of the virtual controller's
// own driver when there is one, as it always was, and otherwise an Xbox 360 controller on
// a virtual gamepad bus, which games that read XInput see.
#pragma once

#include <atomic>

#include "controller/gamepad_controller.h"

namespace pellvane {

class PreferredController final : public GamepadController {
  public:
    PreferredController(GamepadController& hidDevice, GamepadController& bus);

    // The HID device first; the bus only when the device cannot be opened.
    int startController() override;
    // Once the HID device or the bus is chosen it stays chosen. With neither chosen at
    // start-up, each admission tries the HID device again, then asks the bus.
    int openController() override;
    void closeController() override;
    void lastPadGone() override;
    bool isOpen() const override;
    void handleGamepadEvent(const wire::GamepadEventBody& event) override;

  private:
    enum class Choice { none, hidDevice, bus };

    GamepadController& hidDevice_;
    GamepadController& bus_;
    // Set at start-up on the main thread, or at an admission on the pad service's loop
    // thread; read there and at shutdown, after that thread has ended.
    std::atomic<Choice> choice_{Choice::none};
};

}  // namespace pellvane
