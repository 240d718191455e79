// The present interfaces of one device interface class, as setupapi lists them: the HID
// layer and the virtual gamepad bus both find their devices this way.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace pellvane::platform::win32 {

// Which step of reading one interface's path failed; the path is empty unless none did.
enum class InterfaceFailure {
    none,
    allocation,  // the buffer for its detail could not be had
    detail,      // setupapi did not give the detail
};

struct DeviceInterface {
    std::wstring path;
    InterfaceFailure failure = InterfaceFailure::none;
    DWORD error = 0;  // GetLastError() right after the failing step
};

// Every present interface of `interfaceClass`, in enumeration order, appended to
// `interfaces`; false, with GetLastError() set, when the set of them cannot be had.
bool presentDeviceInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces);

// A device path for the narrow fields of the seams (UTF-8), and back.
std::string narrowPath(const std::wstring& path);
std::wstring widePath(const std::string& path);

}  // namespace pellvane::platform::win32
