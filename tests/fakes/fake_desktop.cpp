#include "tests/fakes/fake_desktop.h"

#include <algorithm>
#include <cstring>

namespace pellvane::testing {
namespace {

// Copies as the Windows queries do: a path that does not fit is cut, NUL included.
std::size_t answer(const std::string& path, std::span<char> buffer) {
    if (path.empty() || buffer.empty()) {
        return 0;
    }
    const std::size_t length = std::min(path.size(), buffer.size() - 1);
    std::memcpy(buffer.data(), path.data(), length);
    buffer[length] = '\0';
    return length;
}

class FakeProcessQuery : public desktop::ProcessQuery {
  public:
    explicit FakeProcessQuery(FakeDesktop::ImagePaths paths) : paths_(std::move(paths)) {}
    std::size_t moduleFileName(std::span<char> buffer) override {
        return answer(paths_.moduleFileName, buffer);
    }
    std::size_t processImageFileName(std::span<char> buffer) override {
        return answer(paths_.processImageFileName, buffer);
    }
    std::size_t fullProcessImageName(std::span<char> buffer) override {
        return answer(paths_.fullProcessImageName, buffer);
    }

  private:
    FakeDesktop::ImagePaths paths_;
};

}  // namespace

void FakeDesktop::addProcess(std::uint32_t processId, const std::string& imagePath) {
    addProcess(processId, ImagePaths{imagePath, "", ""});
}

void FakeDesktop::addProcess(std::uint32_t processId, const ImagePaths& paths) {
    std::lock_guard guard(mutex_);
    if (processes_.find(processId) == processes_.end()) {
        processOrder_.push_back(processId);
    }
    processes_[processId] = Process{paths, true};
}

void FakeDesktop::removeProcess(std::uint32_t processId) {
    std::lock_guard guard(mutex_);
    processes_.erase(processId);
    processOrder_.erase(std::remove(processOrder_.begin(), processOrder_.end(), processId),
                        processOrder_.end());
}

void FakeDesktop::setUnopenable(std::uint32_t processId) {
    std::lock_guard guard(mutex_);
    processes_[processId].openable = false;
}

void FakeDesktop::setEnumerationFails(bool fails) {
    std::lock_guard guard(mutex_);
    enumerationFails_ = fails;
}

desktop::WindowHandle FakeDesktop::addWindow(std::uint32_t processId) {
    std::lock_guard guard(mutex_);
    const desktop::WindowHandle handle = nextHandle_;
    nextHandle_ += 4;
    windowIndex_[handle] = windows_.size();
    windows_.push_back({handle, processId});
    return handle;
}

void FakeDesktop::setForeground(desktop::WindowHandle window) {
    std::lock_guard guard(mutex_);
    foreground_ = window;
}

std::size_t FakeDesktop::indexOf(desktop::WindowHandle window) const {
    const auto found = windowIndex_.find(window);
    return found == windowIndex_.end() ? windows_.size() : found->second;
}

desktop::WindowHandle FakeDesktop::foregroundWindow() {
    std::lock_guard guard(mutex_);
    return foreground_;
}

desktop::WindowHandle FakeDesktop::topWindow() {
    std::lock_guard guard(mutex_);
    ++windowQueries_;
    return windows_.empty() ? desktop::noWindow : windows_.front().handle;
}

desktop::WindowHandle FakeDesktop::nextWindow(desktop::WindowHandle window) {
    std::lock_guard guard(mutex_);
    ++windowQueries_;
    const std::size_t index = indexOf(window);
    return index + 1 < windows_.size() ? windows_[index + 1].handle : desktop::noWindow;
}

std::uint32_t FakeDesktop::windowProcessId(desktop::WindowHandle window) {
    std::lock_guard guard(mutex_);
    ++windowQueries_;
    const std::size_t index = indexOf(window);
    return index < windows_.size() ? windows_[index].processId : 0;
}

std::size_t FakeDesktop::enumerateProcesses(std::span<std::uint32_t> ids) {
    std::lock_guard guard(mutex_);
    if (enumerationFails_) {
        return desktop::enumerationFailed;
    }
    const std::size_t count = std::min(ids.size(), processOrder_.size());
    std::copy_n(processOrder_.begin(), count, ids.begin());
    return count;
}

std::unique_ptr<desktop::ProcessQuery> FakeDesktop::openProcess(std::uint32_t processId) {
    std::lock_guard guard(mutex_);
    ++openCount_;
    const auto found = processes_.find(processId);
    if (found == processes_.end() || !found->second.openable) {
        return nullptr;
    }
    return std::make_unique<FakeProcessQuery>(found->second.paths);
}

long long FakeDesktop::windowQueries() const {
    std::lock_guard guard(mutex_);
    return windowQueries_;
}

void FakeDesktop::resetCounters() {
    std::lock_guard guard(mutex_);
    windowQueries_ = 0;
    openCount_ = 0;
}

int FakeDesktop::openCount() const {
    std::lock_guard guard(mutex_);
    return openCount_;
}

}  // namespace pellvane::testing
