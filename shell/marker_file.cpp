#include "shell/marker_file.h"

#include <cstdio>

#include "delegates/retry_policy.h"
#include "platform/debug_output.h"
#include "shell/user_messages.h"

namespace pellvane::shell {
namespace {

std::string markerPath(const std::string& directory) {
    return directory.empty() ? std::string(markerFileName) : directory + "/" + markerFileName;
}

// Creates the empty marker; false when the file cannot be written.
bool createMarker(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    const bool flushed = std::fflush(file) == 0;
    const bool closed = std::fclose(file) == 0;
    return flushed && closed;
}

}  // namespace

void applyMarkerFileRule(bool controllerOpen, dialogs::Dialogs& dialogs,
                         const std::string& directory) {
    const std::string path = markerPath(directory);
    std::FILE* marker = std::fopen(path.c_str(), "rb");
    if (marker != nullptr) {
        std::fclose(marker);
    }
    const bool markerPresent = marker != nullptr;

    if (controllerOpen) {
        if (markerPresent) {
            // A failed delete only means the next loss goes unannounced; nothing to add.
            std::remove(path.c_str());
        }
        return;
    }

    debug::output(L"Controller NOT OPENED!\n");
    if (markerPresent) {
        return;  // told before
    }
    if (createMarker(path)) {
        // Only a notice: its answer changes nothing.
        dialogs.messageBox(controllerMissingText, applicationCaption, dialogs::iconError);
    }
}

}  // namespace pellvane::shell
