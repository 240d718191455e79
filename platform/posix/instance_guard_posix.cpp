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
#include "platform/posix/file_descriptor.h"

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

posix::FileDescriptor openLockFile(const std::string& path) {
    // No symlinks: in /tmp someone else could point the name anywhere.
    posix::FileDescriptor file;
    do {
        file.reset(::open(path.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    } while (!file && errno == EINTR);
    if (!file) {
        return file;
    }
    // A file that another user made in a shared folder is not our lock: it could be held
    // only to keep us from starting.
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        status.st_uid != ::getuid()) {
        return {};
    }
    return file;
}

}  // namespace

InstanceGuard::InstanceGuard(const char* name) {
    posix::FileDescriptor file = openLockFile(lockFilePath(name));
    if (!file) {
        return;
    }
    int result = -1;
    do {
        result = ::flock(file.get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        heldElsewhere_ = errno == EWOULDBLOCK;
        return;
    }
    // Held until the guard goes: the destructor closes it.
    handle_ = file.release();
}

InstanceGuard::~InstanceGuard() {
    // The file stays: removing it could let a third process lock a fresh file while a
    // second still waits on the old one.
    if (handle_ != noHandle) {
        ::close(static_cast<int>(handle_));
    }
}

}  // namespace pellvane::platform
