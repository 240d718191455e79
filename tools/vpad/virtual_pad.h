// The virtual controller: a HID device made through uhid, which the server finds among the
// hidraw devices and writes its state reports to, and a game controller made through
// uinput, which each state report moves.
#pragma once

#include <array>
#include <cstdio>

#include "controller/controller_device.h"
#include "controller/controller_state.h"
#include "platform/posix/input_events.h"
#include "tools/vpad/uhid_device.h"

namespace pellvane::vpad {

class VirtualPad {
  public:
    // `notices` takes what a user should know; with `debug` also a line for each event
    // from the kernel.
    VirtualPad(UhidDevice& hid, input::InputEventSink& gamepad, std::FILE* notices, bool debug);

    // Makes the HID device.
    bool start();
    // Waits for one event from the kernel and handles it; false when the device file failed.
    bool handleNextEvent();
    // Removes the HID device; the server sees its node go.
    bool stop();

  private:
    bool applyReport(std::span<const std::uint8_t> report);
    bool answerGetReport(const UhidEvent& event);
    bool answerSetReport(const UhidEvent& event);
    void log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    UhidDevice& hid_;
    input::InputEventSink& gamepad_;
    std::FILE* notices_;
    bool debug_;
    bool toldGamepadFailure_ = false;
    // What the game controller shows now.
    ControllerState state_;
    // The last state report taken (the rest state until one comes), for report requests.
    std::array<std::uint8_t, controllerReportSize> lastReport_{};
};

}  // namespace pellvane::vpad
