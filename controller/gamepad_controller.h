// What the pad service's delegate needs of the virtual game controller: make it ready at
// start-up, open it (again) at each admission, close it, and turn a GamepadEvent message
// into the controller's next report.
#pragma once

#include "server/wire_protocol.h"

namespace pellvane {

class GamepadController {
  public:
    virtual ~GamepadController() = default;

    // At start-up, before the servers: 1 when there is a controller to use (opened, or
    // one that is plugged in at the first admission), 0 when there is none.
    virtual int startController() { return openController(); }
    // 1 when the controller is open afterwards (it already was, or has just been opened
    // and its first report written or, for one that a bus plugs in, requested), 0 when it
    // is closed.
    virtual int openController() = 0;
    // Closes the controller; nothing happens when it is closed.
    virtual void closeController() = 0;
    // The last pad has gone: every axis and button back to rest with one report, unless
    // they are there already, since what the last pad held must not stay held. A
    // controller that exists only while someone plays goes away after that.
    virtual void lastPadGone() = 0;
    virtual bool isOpen() const = 0;
    // A GamepadEvent's body, decoded. Does nothing while closed.
    virtual void handleGamepadEvent(const wire::GamepadEventBody& event) = 0;
};

}  // namespace pellvane
