#include "delegates/app_filter.h"

#include <mutex>
#include <string>

#include "platform/debug_output.h"
#include "platform/printable_text.h"
#include "server/zarvo_server.h"

namespace pellvane::apps {
namespace {

// Called with appFilterLock held, so that the flag always matches the records it was
// computed from, whichever thread applied the rule last.
void updateKeysBlocked(ZarvoServer& server) {
    const bool blocked = server.foregroundApp != nullptr &&
                         server.wantedApp.nameView() != genericAppName &&
                         server.foregroundApp->nameView() != server.wantedApp.nameView();
    server.keysBlocked.store(blocked ? 1 : 0);
}

}  // namespace

void applyWantedApp(ZarvoServer& server, const wire::AppNameRecord* wanted) {
    if (wanted == nullptr) {
        return;
    }
    std::lock_guard guard(server.appFilterLock);
    server.wantedApp = *wanted;
    updateKeysBlocked(server);
}

void reapplyWantedApp(ZarvoServer& server) {
    std::lock_guard guard(server.appFilterLock);
    updateKeysBlocked(server);
}

void handleWantedAppMessage(ZarvoServer& server, std::span<const std::uint8_t> message) {
    if (message.size() < wire::appNameSize) {
        return;
    }
    const wire::AppNameRecord wanted = wire::readAppNameRecord(message, wire::headerSize);
    applyWantedApp(server, &wanted);
    // nameView stops at the field's end when the name carries no NUL. The name is the
    // pad's to choose: escaped, it cannot forge lines on the terminal that shows them.
    const std::string name = printableText(wanted.nameView());
    debug::output(L"Received wanted appplication: ");
    debug::outputNarrow(name.c_str());
    debug::output(L"\n");
}

}  // namespace pellvane::apps
