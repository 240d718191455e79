#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include "platform/desktop.h"

namespace pellvane::desktop {
namespace {

constexpr DWORD queryAccess = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

HWND toWindow(WindowHandle window) {
    return reinterpret_cast<HWND>(window);
}
WindowHandle fromWindow(HWND window) {
    return reinterpret_cast<WindowHandle>(window);
}

DWORD capacityOf(std::span<char> buffer) {
    return static_cast<DWORD>(buffer.size() > MAXDWORD ? MAXDWORD : buffer.size());
}

class Win32ProcessQuery final : public ProcessQuery {
  public:
    explicit Win32ProcessQuery(HANDLE process) : process_(process) {}
    ~Win32ProcessQuery() override { CloseHandle(process_); }
    Win32ProcessQuery(const Win32ProcessQuery&) = delete;
    Win32ProcessQuery& operator=(const Win32ProcessQuery&) = delete;

    std::size_t moduleFileName(std::span<char> buffer) override {
        return K32GetModuleFileNameExA(process_, nullptr, buffer.data(), capacityOf(buffer));
    }

    std::size_t processImageFileName(std::span<char> buffer) override {
        return K32GetProcessImageFileNameA(process_, buffer.data(), capacityOf(buffer));
    }

    std::size_t fullProcessImageName(std::span<char> buffer) override {
        DWORD length = capacityOf(buffer);
        if (!QueryFullProcessImageNameA(process_, 0, buffer.data(), &length)) {
            return 0;
        }
        return length;
    }

  private:
    HANDLE process_;
};

class Win32Desktop final : public Desktop {
  public:
    WindowHandle foregroundWindow() override { return fromWindow(GetForegroundWindow()); }

    WindowHandle topWindow() override { return fromWindow(GetTopWindow(nullptr)); }

    WindowHandle nextWindow(WindowHandle window) override {
        return fromWindow(GetWindow(toWindow(window), GW_HWNDNEXT));
    }

    std::uint32_t windowProcessId(WindowHandle window) override {
        DWORD processId = 0;  // stays 0 when the window is gone
        GetWindowThreadProcessId(toWindow(window), &processId);
        return processId;
    }

    std::size_t enumerateProcesses(std::span<std::uint32_t> ids) override {
        static_assert(sizeof(DWORD) == sizeof(std::uint32_t));
        DWORD bytesReturned = 0;
        const DWORD bytes = static_cast<DWORD>(ids.size_bytes());
        if (!K32EnumProcesses(reinterpret_cast<DWORD*>(ids.data()), bytes, &bytesReturned)) {
            return enumerationFailed;
        }
        return bytesReturned / sizeof(DWORD);
    }

    std::unique_ptr<ProcessQuery> openProcess(std::uint32_t processId) override {
        HANDLE process = OpenProcess(queryAccess, FALSE, processId);
        if (process == nullptr) {
            return nullptr;
        }
        return std::make_unique<Win32ProcessQuery>(process);
    }

    char pathSeparator() const override { return '\\'; }
};

}  // namespace

std::unique_ptr<Desktop> createSystemDesktop() {
    return std::make_unique<Win32Desktop>();
}

}  // namespace pellvane::desktop
