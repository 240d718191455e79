// The first step of every start: one copy of the program at a time. A second copy tells
// the user and ends without touching the first.
#pragma once

#include <memory>

#include "platform/dialogs.h"
#include "platform/instance_guard.h"

namespace pellvane::shell {

inline constexpr char instanceGuardName[] = "KespServerMutex";

// The guard to hold for the whole run, or null after telling the user that another copy
// runs (the caller then ends with exit code 0).
std::unique_ptr<platform::InstanceGuard> claimSingleInstance(
    dialogs::Dialogs& dialogs, const char* guardName = instanceGuardName);

}  // namespace pellvane::shell
