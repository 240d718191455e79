// HID interfaces on Windows: setupapi lists them, hid_identify reads what identifies each,
// and the device files take the output reports.
#include <windows.h>
// The hid headers need windows.h before them; mingw's declare C functions without saying so.
extern "C" {
#include <hidsdi.h>  // brings hidpi.h after the usage types it needs
}

#include <string>

#include "platform/hid.h"
#include "platform/win32/device_interfaces.h"
#include "platform/win32/hid_identify.h"

namespace pellvane::platform {
namespace {

thread_local DWORD lastErrorCode = 0;

template <class T>
T failWith(DWORD code, T answer) {
    lastErrorCode = code;
    return answer;
}

HANDLE toHandle(HidHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

class Win32Hid final : public Hid {
  public:
    bool enumerate(std::vector<HidDeviceInfo>& devices) override {
        GUID hidClass;
        HidD_GetHidGuid(&hidClass);
        std::vector<win32::DeviceInterface> interfaces;
        if (!win32::presentDeviceInterfaces(hidClass, interfaces)) {
            return failWith(GetLastError(), false);
        }
        for (const win32::DeviceInterface& entry : interfaces) {
            devices.push_back(win32::identifyInterface(entry));
        }
        return true;
    }

    // Readers may share the interface, writers may not; flags 0 make every write synchronous.
    HidHandle open(const std::string& path) override {
        // A NUL inside would end the path early and open something else.
        const std::wstring wide = win32::widePath(path);
        if (wide.empty() || wide.find(L'\0') != std::wstring::npos) {
            return failWith(ERROR_INVALID_NAME, invalidHidHandle);
        }
        const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return failWith(GetLastError(), invalidHidHandle);
        }
        return reinterpret_cast<HidHandle>(file);
    }

    void close(HidHandle handle) override { CloseHandle(toHandle(handle)); }

    bool setInputBufferCount(HidHandle handle, std::uint32_t count) override {
        return HidD_SetNumInputBuffers(toHandle(handle), count) != FALSE ||
               failWith(GetLastError(), false);
    }

    // How many bytes the call reports is not examined: a synchronous write to a HID device
    // takes the report whole or refuses it.
    bool write(HidHandle handle, std::span<const std::uint8_t> report) override {
        DWORD written = 0;
        return WriteFile(toHandle(handle), report.data(), static_cast<DWORD>(report.size()),
                         &written, nullptr) != FALSE ||
               failWith(GetLastError(), false);
    }

    std::uint32_t lastError() override { return lastErrorCode; }
};

}  // namespace

Hid& systemHid() {
    static Win32Hid hid;
    return hid;
}

}  // namespace pellvane::platform
