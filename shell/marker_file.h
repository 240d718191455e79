// The empty file that remembers that the user was told the virtual controller is missing,
// so that the notice appears once per loss of the controller and not at every start.
#pragma once

#include <string>

#include "platform/dialogs.h"

namespace pellvane::shell {

inline constexpr char markerFileName[] = "quibdeverr.ini";

// With the controller open, forgets an earlier notice (deletes the file). Without it,
// traces the loss and, unless the file says the user knows already, creates the file and
// shows the notice. A file that cannot be created means no notice: better silent than a box
// at every start. `directory` empty means the working directory.
void applyMarkerFileRule(bool controllerOpen, dialogs::Dialogs& dialogs,
                         const std::string& directory = {});

}  // namespace pellvane::shell
