// HID interfaces on Windows: setupapi enumerates them, hid.dll identifies them, and the
// device files take the output reports.
#include <windows.h>
// The hid and setupapi headers need windows.h before them; mingw's hid headers declare
// C functions without saying so.
extern "C" {
#include <hidsdi.h>  // brings hidpi.h after the usage types it needs
}
#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/hid.h"

namespace pellvane::platform {
namespace {

HDEVINFO toInfoSet(HidInterfaceSet set) {
    return reinterpret_cast<HDEVINFO>(set);
}
HANDLE toHandle(HidHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

GUID hidInterfaceClass() {
    GUID guid;
    HidD_GetHidGuid(&guid);
    return guid;
}

// The interface at `index`; the seam walks by index, so each step enumerates to it again.
bool interfaceData(HidInterfaceSet set, std::uint32_t index, SP_DEVICE_INTERFACE_DATA& data) {
    GUID guid = hidInterfaceClass();
    data = {};
    data.cbSize = sizeof data;
    return SetupDiEnumDeviceInterfaces(toInfoSet(set), nullptr, &guid, index, &data) != FALSE;
}

class Win32Hid final : public Hid {
  public:
    HidInterfaceSet openInterfaceSet() override {
        GUID guid = hidInterfaceClass();
        const HDEVINFO set =
            SetupDiGetClassDevsW(&guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) {
            return invalidHidInterfaceSet;
        }
        return reinterpret_cast<HidInterfaceSet>(set);
    }

    void destroyInterfaceSet(HidInterfaceSet set) override {
        SetupDiDestroyDeviceInfoList(toInfoSet(set));
    }

    bool interfaceAt(HidInterfaceSet set, std::uint32_t index) override {
        SP_DEVICE_INTERFACE_DATA data;
        return interfaceData(set, index, data);
    }

    std::size_t interfaceDetailSize(HidInterfaceSet set, std::uint32_t index) override {
        SP_DEVICE_INTERFACE_DATA data;
        if (!interfaceData(set, index, data)) {
            return 0;
        }
        // Fails with ERROR_INSUFFICIENT_BUFFER by design: only the size is wanted.
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(toInfoSet(set), &data, nullptr, 0, &size, nullptr);
        return size;
    }

    // The detail is SP_DEVICE_INTERFACE_DETAIL_DATA_W; its cbSize is the fixed part's size,
    // whatever the length of the path that follows.
    bool interfaceDetail(HidInterfaceSet set, std::uint32_t index,
                         std::span<std::byte> buffer) override {
        if (buffer.size() < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || buffer.size() > MAXDWORD ||
            reinterpret_cast<std::uintptr_t>(buffer.data()) %
                    alignof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) !=
                0) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return false;
        }
        SP_DEVICE_INTERFACE_DATA data;
        if (!interfaceData(set, index, data)) {
            return false;
        }
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        return SetupDiGetDeviceInterfaceDetailW(toInfoSet(set), &data, detail,
                                                static_cast<DWORD>(buffer.size()), nullptr,
                                                nullptr) != FALSE;
    }

    // Readers may share the interface, writers may not; flags 0 make every write synchronous.
    HidHandle openInterface(std::span<const std::byte> detail) override {
        const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
        if (detail.size() <= pathOffset) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return invalidHidHandle;
        }
        // Copied out character by character, and only up to a NUL inside the buffer.
        std::wstring path;
        for (std::size_t at = pathOffset; at + sizeof(wchar_t) <= detail.size();
             at += sizeof(wchar_t)) {
            wchar_t character;
            std::memcpy(&character, detail.data() + at, sizeof character);
            if (character == L'\0') {
                const HANDLE handle =
                    CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
                return reinterpret_cast<HidHandle>(handle);
            }
            path.push_back(character);
        }
        SetLastError(ERROR_INVALID_PARAMETER);
        return invalidHidHandle;
    }

    void closeHandle(HidHandle handle) override { CloseHandle(toHandle(handle)); }

    HidPreparsedData preparsedData(HidHandle handle) override {
        PHIDP_PREPARSED_DATA data = nullptr;
        if (!HidD_GetPreparsedData(toHandle(handle), &data)) {
            return nullHidPreparsedData;
        }
        return reinterpret_cast<HidPreparsedData>(data);
    }

    void freePreparsedData(HidPreparsedData data) override {
        HidD_FreePreparsedData(reinterpret_cast<PHIDP_PREPARSED_DATA>(data));
    }

    bool attributes(HidHandle handle, HidAttributes& attributes) override {
        HIDD_ATTRIBUTES found = {};
        found.Size = sizeof found;
        if (!HidD_GetAttributes(toHandle(handle), &found)) {
            return false;
        }
        attributes = {found.VendorID, found.ProductID};
        return true;
    }

    // Each interface is one top-level collection here.
    bool topLevelCollections(HidPreparsedData data, std::vector<HidUsage>& usages) override {
        HIDP_CAPS caps = {};
        if (HidP_GetCaps(reinterpret_cast<PHIDP_PREPARSED_DATA>(data), &caps) !=
            HIDP_STATUS_SUCCESS) {
            return false;
        }
        usages.assign(1, HidUsage{caps.UsagePage, caps.Usage});
        return true;
    }

    bool setInputBufferCount(HidHandle handle, std::uint32_t count) override {
        return HidD_SetNumInputBuffers(toHandle(handle), count) != FALSE;
    }

    bool writeReport(HidHandle handle, std::span<const std::uint8_t> report) override {
        DWORD written = 0;
        return WriteFile(toHandle(handle), report.data(), static_cast<DWORD>(report.size()),
                         &written, nullptr) != FALSE;
    }

    std::uint32_t lastError() override { return GetLastError(); }
};

}  // namespace

Hid& systemHid() {
    static Win32Hid hid;
    return hid;
}

}  // namespace pellvane::platform
