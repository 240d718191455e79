#include "platform/win32/device_interfaces.h"

#include <setupapi.h>

#include <cstddef>
#include <cstring>
#include <memory>
#include <new>

namespace pellvane::platform::win32 {
namespace {

// A device path is a few hundred bytes; a larger claim is treated as an allocation that
// cannot be had rather than trusted.
constexpr DWORD detailSizeLimit = 64 * 1024;

// Destroys the information set on every way out of the walk.
class InfoSet {
  public:
    explicit InfoSet(const GUID& interfaceClass)
        : set_(SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr,
                                    DIGCF_PRESENT | DIGCF_DEVICEINTERFACE)) {}
    ~InfoSet() {
        if (obtained()) {
            SetupDiDestroyDeviceInfoList(set_);
        }
    }
    InfoSet(const InfoSet&) = delete;
    InfoSet& operator=(const InfoSet&) = delete;

    bool obtained() const { return set_ != INVALID_HANDLE_VALUE; }
    HDEVINFO get() const { return set_; }

  private:
    HDEVINFO set_;
};

DeviceInterface failed(InterfaceFailure failure) {
    DeviceInterface entry;
    entry.failure = failure;
    entry.error = GetLastError();
    return entry;
}

// The path that follows the detail's fixed part, up to its NUL or the end of what
// setupapi filled in, whichever comes first.
std::wstring pathFromDetail(const std::byte* detail, DWORD size) {
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_W, DevicePath);
    std::wstring path;
    for (std::size_t at = pathOffset; at + sizeof(wchar_t) <= size; at += sizeof(wchar_t)) {
        wchar_t character;
        std::memcpy(&character, detail + at, sizeof character);
        if (character == L'\0') {
            break;
        }
        path.push_back(character);
    }
    return path;
}

DeviceInterface readInterface(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& data) {
    // Fails with ERROR_INSUFFICIENT_BUFFER by design: only the size is wanted.
    DWORD size = 0;
    SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
    std::unique_ptr<std::byte[]> buffer;
    if (size >= sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) && size <= detailSizeLimit) {
        // new[] of bytes is aligned for any fundamental type, the detail's DWORD included.
        buffer.reset(new (std::nothrow) std::byte[size]);
    }
    if (!buffer) {
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W) || size > detailSizeLimit) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        }
        return failed(InterfaceFailure::allocation);
    }
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.get());
    // cbSize is the fixed part's size, whatever the length of the path that follows.
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, nullptr)) {
        return failed(InterfaceFailure::detail);
    }
    DeviceInterface entry;
    entry.path = pathFromDetail(buffer.get(), size);
    return entry;
}

}  // namespace

bool presentDeviceInterfaces(const GUID& interfaceClass, std::vector<DeviceInterface>& interfaces) {
    const InfoSet set(interfaceClass);
    if (!set.obtained()) {
        return false;
    }
    GUID guid = interfaceClass;
    for (DWORD index = 0;; ++index) {
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set.get(), nullptr, &guid, index, &data)) {
            return true;  // past the end
        }
        interfaces.push_back(readInterface(set.get(), data));
    }
}

std::string narrowPath(const std::wstring& path) {
    if (path.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()),
                                           nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return {};
    }
    std::string narrow(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), narrow.data(),
                        length, nullptr, nullptr);
    return narrow;
}

std::wstring widePath(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), nullptr, 0);
    if (length <= 0) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, path.data(), static_cast<int>(path.size()), wide.data(),
                        length);
    return wide;
}

}  // namespace pellvane::platform::win32
