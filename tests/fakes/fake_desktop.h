// A desktop held in memory: processes with image paths, top-level windows in z-order and a
// foreground window, all set by the test. It counts the window queries made of it.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/desktop.h"

namespace pellvane::testing {

class FakeDesktop : public desktop::Desktop {
  public:
    // What each of the three image-path queries answers; an empty text is a failure.
    struct ImagePaths {
        std::string moduleFileName;
        std::string processImageFileName;
        std::string fullProcessImageName;
    };

    explicit FakeDesktop(char separator = '\\') : separator_(separator) {}

    // Listed by enumerateProcesses in the order added; the main module query answers.
    void addProcess(std::uint32_t processId, const std::string& imagePath);
    void addProcess(std::uint32_t processId, const ImagePaths& paths);
    void removeProcess(std::uint32_t processId);
    // openProcess fails for it, as for a process of another user.
    void setUnopenable(std::uint32_t processId);
    void setEnumerationFails(bool fails);

    // A new top-level window owned by the process, below all others; its handle.
    desktop::WindowHandle addWindow(std::uint32_t processId);
    void setForeground(desktop::WindowHandle window);

    desktop::WindowHandle foregroundWindow() override;
    desktop::WindowHandle topWindow() override;
    desktop::WindowHandle nextWindow(desktop::WindowHandle window) override;
    std::uint32_t windowProcessId(desktop::WindowHandle window) override;
    std::size_t enumerateProcesses(std::span<std::uint32_t> ids) override;
    std::unique_ptr<desktop::ProcessQuery> openProcess(std::uint32_t processId) override;
    char pathSeparator() const override { return separator_; }

    // topWindow, nextWindow and windowProcessId calls so far.
    long long windowQueries() const;
    void resetCounters();
    int openCount() const;

  private:
    struct Process {
        ImagePaths paths;
        bool openable = true;
    };
    struct Window {
        desktop::WindowHandle handle;
        std::uint32_t processId;
    };
    std::size_t indexOf(desktop::WindowHandle window) const;

    const char separator_;
    mutable std::mutex mutex_;  // guards every field below
    std::vector<std::uint32_t> processOrder_;
    std::map<std::uint32_t, Process> processes_;
    std::vector<Window> windows_;  // topmost first
    std::map<desktop::WindowHandle, std::size_t> windowIndex_;
    desktop::WindowHandle nextHandle_ = 0x1000;
    desktop::WindowHandle foreground_ = desktop::noWindow;
    bool enumerationFails_ = false;
    long long windowQueries_ = 0;
    int openCount_ = 0;
};

}  // namespace pellvane::testing
