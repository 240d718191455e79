// A lock that only one process at a time can hold under a given name: the guard that keeps a
// second copy of the program from starting. The system releases it when its holder ends,
// however that happens. Windows uses a named mutex; POSIX an flock on a file in
// $XDG_RUNTIME_DIR (else /tmp), which is per user like the Windows session's mutex.
#pragma once

#include <cstdint>

namespace pellvane::platform {

class InstanceGuard {
  public:
    // Takes the lock named `name` (letters, digits and '-' or '_').
    explicit InstanceGuard(const char* name);
    ~InstanceGuard();
    InstanceGuard(const InstanceGuard&) = delete;
    InstanceGuard& operator=(const InstanceGuard&) = delete;

    // Another process, or another guard in this one, holds the name. When the lock could
    // not be set up at all this is false and nothing is held: the program runs on unguarded
    // rather than refusing to start for a reason that has nothing to do with a second copy.
    bool heldElsewhere() const { return heldElsewhere_; }
    bool held() const { return handle_ != noHandle; }

  private:
    static constexpr std::intptr_t noHandle = -1;
    std::intptr_t handle_ = noHandle;  // the mutex HANDLE or the locked file descriptor
    bool heldElsewhere_ = false;
};

}  // namespace pellvane::platform
