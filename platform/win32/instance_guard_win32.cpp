// A named mutex in the session's namespace, created owned. The system reports
// ERROR_ALREADY_EXISTS when another holder has it open and closes it when the holder ends.
#include <windows.h>

#include <string>

#include "platform/instance_guard.h"

namespace pellvane::platform {

InstanceGuard::InstanceGuard(const char* name) {
    const std::string narrow(name);
    const std::wstring wide(narrow.begin(), narrow.end());  // names are plain ASCII
    HANDLE mutex = ::CreateMutexW(nullptr, TRUE, wide.c_str());
    if (mutex == nullptr) {
        return;  // no guard to be had; the program runs on
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        heldElsewhere_ = true;
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(mutex);
}

InstanceGuard::~InstanceGuard() {
    if (handle_ != noHandle) {
        ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    }
}

}  // namespace pellvane::platform
