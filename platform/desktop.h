// Windows and processes of the interactive desktop: the window in front, the top-level
// windows in z-order, their owning processes, the running processes and their image paths.
// On POSIX systems the windows are those of the X display named by DISPLAY (none without
// one), and processes come from /proc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace pellvane::desktop {

// A window; noWindow stands for none.
using WindowHandle = std::uintptr_t;
inline constexpr WindowHandle noWindow = 0;

// What enumerateProcesses answers when the system cannot list the processes.
inline constexpr std::size_t enumerationFailed = static_cast<std::size_t>(-1);

// Room that the image-path queries fill, the terminating NUL included.
inline constexpr std::size_t imagePathCapacity = 128;

// An opened process that can be asked for its image path. Each query writes at most
// buffer.size() characters including the NUL and returns the path's length, 0 on failure.
class ProcessQuery {
  public:
    virtual ~ProcessQuery() = default;
    // The file of the main module (K32GetModuleFileNameExA).
    virtual std::size_t moduleFileName(std::span<char> buffer) = 0;
    // The image file in device form (K32GetProcessImageFileNameA).
    virtual std::size_t processImageFileName(std::span<char> buffer) = 0;
    // The full image path in Win32 form (QueryFullProcessImageNameA, flags 0).
    virtual std::size_t fullProcessImageName(std::span<char> buffer) = 0;
};

class Desktop {
  public:
    virtual ~Desktop() = default;

    virtual WindowHandle foregroundWindow() = 0;
    // The topmost top-level window, hidden ones included; noWindow when there is none.
    virtual WindowHandle topWindow() = 0;
    // The next top-level window below `window` in z-order; noWindow after the last.
    virtual WindowHandle nextWindow(WindowHandle window) = 0;
    // The process that owns a window; 0 when it cannot be told.
    virtual std::uint32_t windowProcessId(WindowHandle window) = 0;
    // Fills `ids` with the ids of running processes; the number filled, or
    // enumerationFailed.
    virtual std::size_t enumerateProcesses(std::span<std::uint32_t> ids) = 0;
    // Opens a process for querying (PROCESS_QUERY_INFORMATION | PROCESS_VM_READ); null when
    // it cannot be opened.
    virtual std::unique_ptr<ProcessQuery> openProcess(std::uint32_t processId) = 0;
    // The character between the parts of an image path.
    virtual char pathSeparator() const = 0;
};

// The desktop of this computer. Its calls may be made from several threads at once.
std::unique_ptr<Desktop> createSystemDesktop();

}  // namespace pellvane::desktop
