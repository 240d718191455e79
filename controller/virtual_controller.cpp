#include "controller/virtual_controller.h"

#include <new>

#include "controller/controller_discovery.h"
#include "controller/gamepad_events.h"
#include "controller/output_report.h"
#include "platform/debug_output.h"

namespace pellvane {

VirtualController::VirtualController(platform::Hid& hid) : hid_(hid) {}

VirtualController::~VirtualController() {
    closeController();
}

int VirtualController::openController() {
    std::lock_guard guard(lock_);
    if (controller) {
        debug::output(L"QuibController already open!\n");
        return 1;
    }
    std::unique_ptr<ControllerDevice> device(new (std::nothrow) ControllerDevice());
    if (!device || openControllerHandles(hid_, device.get()) == 0) {
        debug::output(L"Could not connect to controller!\n");
        return 0;
    }
    controller = std::move(device);
    resetControllerState(&controllerState);
    if (writeReport(hid_, controller.get(), &controllerState) == 0) {
        debug::output(L"Could not update controller!\n");
        closeLocked();
        return 0;
    }
    debug::output(L"QuibController Opened!\n");
    return 1;
}

void VirtualController::closeController() {
    std::lock_guard guard(lock_);
    returnToRestLocked();
    closeLocked();
}

void VirtualController::lastPadGone() {
    std::lock_guard guard(lock_);
    returnToRestLocked();
}

void VirtualController::returnToRestLocked() {
    if (!controller || controller->reportHandle == platform::invalidHidHandle) {
        return;
    }
    ControllerState rest;
    resetControllerState(&rest);
    if (controllerState == rest) {
        return;
    }
    controllerState = rest;
    if (writeReport(hid_, controller.get(), &controllerState) == 0) {
        debug::output(L"SetOutputReport FAILED!\n");
    }
}

void VirtualController::closeLocked() {
    if (!controller) {
        return;
    }
    closeControllerHandles(hid_, controller.get());
    controller.reset();
}

bool VirtualController::isOpen() const {
    std::lock_guard guard(lock_);
    return controller != nullptr;
}

void VirtualController::handleGamepadEvent(const wire::GamepadEventBody& event) {
    std::lock_guard guard(lock_);
    // Events never open the controller: while it is closed they are simply dropped.
    if (!controller || controller->reportHandle == platform::invalidHidHandle) {
        return;
    }
    if (gamepad::applyGamepadEvent(event, controllerState) != gamepad::EventOutcome::report) {
        return;
    }
    if (writeReport(hid_, controller.get(), &controllerState) == 0) {
        debug::output(L"SetOutputReport FAILED!\n");
    }
}

ControllerState VirtualController::state() const {
    std::lock_guard guard(lock_);
    return controllerState;
}

}  // namespace pellvane
