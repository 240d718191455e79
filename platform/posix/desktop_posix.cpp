// Windows come from the X display that DISPLAY names, when there is one and libX11 can be
// loaded; otherwise there is no foreground window and no process owns a top-level window.
// Processes and their image paths come from /proc.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "platform/desktop.h"
#include "platform/posix/x11_windows.h"

namespace pellvane::desktop {
namespace {

std::string procPath(std::uint32_t processId, const char* entry) {
    return "/proc/" + std::to_string(processId) + entry;
}

bool parseProcessId(const char* text, std::uint32_t& processId) {
    if (text[0] < '0' || text[0] > '9') {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (*end != '\0' || value > 0xFFFFFFFFul) {
        return false;
    }
    processId = static_cast<std::uint32_t>(value);
    return true;
}

class ProcProcessQuery final : public ProcessQuery {
  public:
    explicit ProcProcessQuery(std::uint32_t processId) : processId_(processId) {}

    // Like the first Windows query: a path too long for the buffer is cut to fit.
    std::size_t moduleFileName(std::span<char> buffer) override {
        return readImagePath(buffer, true);
    }

    std::size_t processImageFileName(std::span<char> buffer) override {
        return readImagePath(buffer, true);
    }

    // Like QueryFullProcessImageNameA: a path too long for the buffer is a failure.
    std::size_t fullProcessImageName(std::span<char> buffer) override {
        return readImagePath(buffer, false);
    }

  private:
    std::size_t readImagePath(std::span<char> buffer, bool truncate) {
        if (buffer.empty()) {
            return 0;
        }
        char path[4096];
        const ssize_t length = ::readlink(procPath(processId_, "/exe").c_str(), path, sizeof path);
        if (length <= 0 || static_cast<std::size_t>(length) >= sizeof path) {
            return 0;
        }
        std::size_t copied = static_cast<std::size_t>(length);
        if (copied >= buffer.size()) {
            if (!truncate) {
                return 0;
            }
            copied = buffer.size() - 1;
        }
        std::copy_n(path, copied, buffer.data());
        buffer[copied] = '\0';
        return copied;
    }

    std::uint32_t processId_;
};

class ProcDesktop final : public Desktop {
  public:
    WindowHandle foregroundWindow() override { return windows_.activeWindow(); }
    WindowHandle topWindow() override { return windows_.topWindow(); }
    WindowHandle nextWindow(WindowHandle window) override { return windows_.nextWindow(window); }
    std::uint32_t windowProcessId(WindowHandle window) override {
        return windows_.windowProcessId(window);
    }

    std::size_t enumerateProcesses(std::span<std::uint32_t> ids) override {
        DIR* proc = ::opendir("/proc");
        if (proc == nullptr) {
            return enumerationFailed;
        }
        std::size_t count = 0;
        while (count < ids.size()) {
            const dirent* entry = ::readdir(proc);
            if (entry == nullptr) {
                break;
            }
            std::uint32_t processId = 0;
            if (parseProcessId(entry->d_name, processId)) {
                ids[count++] = processId;
            }
        }
        ::closedir(proc);
        return count;
    }

    std::unique_ptr<ProcessQuery> openProcess(std::uint32_t processId) override {
        struct stat status {};
        if (processId == 0 || ::stat(procPath(processId, "").c_str(), &status) != 0) {
            return nullptr;
        }
        return std::make_unique<ProcProcessQuery>(processId);
    }

    char pathSeparator() const override { return '/'; }

  private:
    X11Windows windows_;
};

}  // namespace

std::unique_ptr<Desktop> createSystemDesktop() {
    return std::make_unique<ProcDesktop>();
}

}  // namespace pellvane::desktop
