// The texts that the program itself shows the user, on every platform. The message-box
// caption is the delegates' applicationCaption.
#pragma once

namespace pellvane::shell {

inline constexpr wchar_t instanceRunningText[] =
    L"An instance of Pellvane Server is already running.";

inline constexpr wchar_t controllerMissingText[] =
    L"The Quib Controller virtual device was not found.\n"
    L"If this message appears it means the virtual device is not working correctly or was "
    L"not installed correctly.\n"
    L"Quib Server will still be able to work normally,\n"
    L"but it won't be able to reproduce joystick/gamepad events.";

}  // namespace pellvane::shell
