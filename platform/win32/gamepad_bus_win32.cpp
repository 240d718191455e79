// ViGEmBus on Windows: setupapi lists the bus by its interface class, the device file takes
// the control requests. The file is opened for overlapped I/O, so that a request the bus
// sits on can be given up after its time and cancelled rather than hold a thread for good.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/gamepad_bus.h"
#include "platform/win32/device_interfaces.h"

namespace pellvane::platform {
namespace {

// {96E42B22-F5E9-42F8-B043-ED0F932F014F}: the interface class that ViGEmBus registers.
constexpr GUID busInterfaceClass = {
    0x96E42B22, 0xF5E9, 0x42F8, {0xB0, 0x43, 0xED, 0x0F, 0x93, 0x2F, 0x01, 0x4F}};

HANDLE toHandle(BusHandle bus) {
    return reinterpret_cast<HANDLE>(bus);
}

DWORD waitMilliseconds(std::chrono::milliseconds limit) {
    const auto count = std::clamp<std::chrono::milliseconds::rep>(limit.count(), 0, INFINITE - 1);
    return static_cast<DWORD>(count);
}

// Closes the request's event on every way out, keeping the request's own error.
class RequestEvent {
  public:
    RequestEvent() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~RequestEvent() {
        if (event_ != nullptr) {
            const DWORD error = GetLastError();
            CloseHandle(event_);
            SetLastError(error);
        }
    }
    RequestEvent(const RequestEvent&) = delete;
    RequestEvent& operator=(const RequestEvent&) = delete;

    HANDLE get() const { return event_; }

  private:
    HANDLE event_;
};

class Win32GamepadBus final : public GamepadBus {
  public:
    bool busPaths(std::vector<std::string>& paths) override {
        std::vector<win32::DeviceInterface> interfaces;
        if (!win32::presentDeviceInterfaces(busInterfaceClass, interfaces)) {
            return false;
        }
        for (const win32::DeviceInterface& found : interfaces) {
            if (found.failure == win32::InterfaceFailure::none && !found.path.empty()) {
                paths.push_back(win32::narrowPath(found.path));
            }
        }
        return true;
    }

    BusHandle open(const std::string& path) override {
        // A NUL inside would end the path early and open something else.
        const std::wstring wide = win32::widePath(path);
        if (wide.empty() || wide.find(L'\0') != std::wstring::npos) {
            SetLastError(ERROR_INVALID_NAME);
            return nullBusHandle;
        }
        const HANDLE file = CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return nullBusHandle;
        }
        return reinterpret_cast<BusHandle>(file);
    }

    bool control(BusHandle bus, std::uint32_t code, std::span<const std::uint8_t> request,
                 std::chrono::milliseconds limit) override {
        const RequestEvent event;
        if (event.get() == nullptr) {
            return false;
        }
        // DeviceIoControl takes a mutable input buffer; the bus only reads it.
        std::vector<std::uint8_t> input(request.begin(), request.end());
        OVERLAPPED overlapped = {};
        overlapped.hEvent = event.get();
        DWORD transferred = 0;
        if (DeviceIoControl(toHandle(bus), code, input.data(), static_cast<DWORD>(input.size()),
                            nullptr, 0, &transferred, &overlapped)) {
            return true;
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return false;
        }
        if (WaitForSingleObject(event.get(), waitMilliseconds(limit)) != WAIT_OBJECT_0) {
            // The buffers must outlive the request: wait for the cancellation to land.
            CancelIoEx(toHandle(bus), &overlapped);
            if (GetOverlappedResult(toHandle(bus), &overlapped, &transferred, TRUE)) {
                return true;  // it was done before the cancellation reached it
            }
            SetLastError(ERROR_TIMEOUT);
            return false;
        }
        return GetOverlappedResult(toHandle(bus), &overlapped, &transferred, FALSE) != FALSE;
    }

    void close(BusHandle bus) override { CloseHandle(toHandle(bus)); }

    std::uint32_t lastError() override { return GetLastError(); }
};

}  // namespace

GamepadBus& systemGamepadBus() {
    static Win32GamepadBus bus;
    return bus;
}

}  // namespace pellvane::platform
