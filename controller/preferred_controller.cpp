#include "controller/preferred_controller.h"

namespace pellvane {

PreferredController::PreferredController(GamepadController& hidDevice, GamepadController& bus)
    : hidDevice_(hidDevice), bus_(bus) {}

int PreferredController::startController() {
    if (hidDevice_.startController() != 0) {
        choice_ = Choice::hidDevice;
        return 1;
    }
    if (bus_.startController() != 0) {
        choice_ = Choice::bus;
        return 1;
    }
    return 0;
}

int PreferredController::openController() {
    switch (choice_.load()) {
        case Choice::hidDevice:
            return hidDevice_.openController();
        case Choice::bus:
            return bus_.openController();
        case Choice::none:
            break;
    }
    if (hidDevice_.openController() != 0) {
        choice_ = Choice::hidDevice;
        return 1;
    }
    // The bus finds itself on its own thread, so the admission does not wait for it.
    return bus_.openController();
}

void PreferredController::closeController() {
    hidDevice_.closeController();
    bus_.closeController();
}

void PreferredController::lastPadGone() {
    hidDevice_.lastPadGone();
    bus_.lastPadGone();
}

bool PreferredController::isOpen() const {
    return hidDevice_.isOpen() || bus_.isOpen();
}

void PreferredController::handleGamepadEvent(const wire::GamepadEventBody& event) {
    GamepadController& chosen = choice_ == Choice::hidDevice ? hidDevice_ : bus_;
    chosen.handleGamepadEvent(event);
}

}  // namespace pellvane
