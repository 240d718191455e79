// Owns one POSIX file descriptor and closes it when it goes, as net::Socket does for a
// socket: whatever path its owner takes out, the descriptor is closed once.
#pragma once

#include <unistd.h>

#include <cerrno>

namespace pellvane::posix {

class FileDescriptor {
  public:
    static constexpr int none = -1;

    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    // Keeps errno: a failure path that set it reaches its caller with it unchanged.
    ~FileDescriptor() { closeKeepingErrno(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            closeKeepingErrno();
            fd_ = other.release();
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    explicit operator bool() const { return valid(); }
    // Gives the descriptor up without closing it.
    int release() {
        const int fd = fd_;
        fd_ = none;
        return fd;
    }
    // Closes the descriptor held (if any) and holds `fd` instead; the close's result (0, or
    // -1 with errno set). A close that fails has still released the descriptor on Linux, so
    // it is never retried.
    int reset(int fd = none) {
        const int old = fd_;
        fd_ = fd;
        return old < 0 ? 0 : ::close(old);
    }

  private:
    void closeKeepingErrno() {
        const int saved = errno;
        reset();
        errno = saved;
    }

    int fd_ = none;
};

}  // namespace pellvane::posix
