// flock is tied to the open file description, so the kernel drops the lock when the process
// ends, even on a crash, and a second descriptor in the same process is refused like
// another process would be.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "platform/instance_guard.h"

namespace pellvane::platform {
namespace {

// $XDG_RUNTIME_DIR is private to the user; /tmp is shared, so the name there carries the
// user id, as the Windows mutex belongs to one session.
std::string lockFilePath(const char* name) {
    const char* runtimeDir = std::getenv("XDG_RUNTIME_DIR");
    if (runtimeDir != nullptr && runtimeDir[0] == '/') {
        return std::string(runtimeDir) + "/" + name + ".lock";
    }
    return "/tmp/" + std::string(name) + "-" + std::to_string(::getuid()) + ".lock";
}

int openLockFile(const std::string& path) {
    // No symlinks: in /tmp someone else could point the name anywhere.
    int fd = -1;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return -1;
    }
    // A file that another user made in a shared folder is not our lock: it could be held
    // only to keep us from starting.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::getuid()) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

InstanceGuard::InstanceGuard(const char* name) {
    const int fd = openLockFile(lockFilePath(name));
    if (fd < 0) {
        return;
    }
    int result = -1;
    do {
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        heldElsewhere_ = errno == EWOULDBLOCK;
        ::close(fd);
        return;
    }
    handle_ = fd;
}

InstanceGuard::~InstanceGuard() {
    // The file stays: removing it could let a third process lock a fresh file while a
    // second still waits on the old one.
    if (handle_ != noHandle) {
        ::close(static_cast<int>(handle_));
    }
}

}  // namespace pellvane::platform
