// The Linux keyboard around a virtual device: createSystemKeyboard builds it with the uinput
// keyboard, tests with a recorder of input events.
#pragma once

#include <cstdio>
#include <memory>

#include "platform/keyboard.h"
#include "platform/posix/input_events.h"
#include "platform/posix/uinput_device.h"

namespace pellvane::keyboard {

// The virtual keyboard as the desktop sees it: every key that a record can name.
input::UinputDeviceSpec virtualKeyboardSpec();

// Without a device (null) every record is printed. `recordOutput` takes the printed records
// and beeps, `noticeOutput` what the user is told once (a character that cannot be typed,
// a device that stopped taking keys). Keys left down are released when it is destroyed.
std::unique_ptr<Keyboard> createLinuxKeyboard(std::unique_ptr<input::InputEventSink> device,
                                              const SystemKeyboardOptions& options,
                                              std::FILE* recordOutput, std::FILE* noticeOutput);

}  // namespace pellvane::keyboard
