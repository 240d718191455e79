#include "shell/single_instance.h"

#include "delegates/retry_policy.h"
#include "shell/user_messages.h"

namespace pellvane::shell {

std::unique_ptr<platform::InstanceGuard> claimSingleInstance(dialogs::Dialogs& dialogs,
                                                             const char* guardName) {
    auto guard = std::make_unique<platform::InstanceGuard>(guardName);
    if (guard->heldElsewhere()) {
        dialogs.messageBox(instanceRunningText, applicationCaption, dialogs::iconError);
        return nullptr;
    }
    return guard;
}

}  // namespace pellvane::shell
