// The real keyboard, desktop, dialogs and virtual controller of this computer (the HID
// device of the controller's driver, or else an Xbox 360 controller on a bus), created
// once by the program's entry and handed to the Application.
#pragma once

#include <memory>

#include "controller/preferred_controller.h"
#include "controller/virtual_controller.h"
#include "controller/xbox360_controller.h"
#include "platform/desktop.h"
#include "platform/dialogs.h"
#include "platform/keyboard.h"
#include "shell/application.h"

namespace pellvane::shell {

class SystemSeams {
  public:
    // `dialogs` replaces the system's own boxes when given.
    explicit SystemSeams(const keyboard::SystemKeyboardOptions& keyboardOptions = {},
                         std::unique_ptr<dialogs::Dialogs> dialogs = nullptr);
    SystemSeams(const SystemSeams&) = delete;
    SystemSeams& operator=(const SystemSeams&) = delete;

    // Makes the keyboard on the first call: on Linux it is a virtual device that the desktop
    // sees come and go, so a copy that ends at the single-instance check must not make one.
    ApplicationSeams seams();
    dialogs::Dialogs& dialogs() { return *dialogs_; }

  private:
    keyboard::SystemKeyboardOptions keyboardOptions_;
    std::unique_ptr<keyboard::Keyboard> keyboard_;  // null until seams() is first called
    std::unique_ptr<desktop::Desktop> desktop_;
    std::unique_ptr<dialogs::Dialogs> dialogs_;
    VirtualController hidController_;
    Xbox360Controller busController_;
    PreferredController controller_;
};

}  // namespace pellvane::shell
