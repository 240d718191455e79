// What the pad service's delegate needs of the virtual game controller: open it (again),
// close it, and turn a GamepadEvent message into the controller's next output report.
#pragma once

#include "server/wire_protocol.h"

namespace pellvane {

class GamepadController {
  public:
    virtual ~GamepadController() = default;

    // 1 when the controller is open afterwards (it already was, or has just been opened
    // and its first report written), 0 when it is closed.
    virtual int openController() = 0;
    // Closes both device handles; nothing happens when the controller is closed.
    virtual void closeController() = 0;
    // Every axis and button back to rest with one report, unless they are there already:
    // what the last pad held must not stay held once it is gone.
    virtual void returnToRest() = 0;
    virtual bool isOpen() const = 0;
    // A GamepadEvent's body, decoded. Does nothing while closed.
    virtual void handleGamepadEvent(const wire::GamepadEventBody& event) = 0;
};

}  // namespace pellvane
