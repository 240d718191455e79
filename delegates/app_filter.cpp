#include "delegates/app_filter.h"

#include <string>

#include "platform/debug_output.h"
#include "platform/printable_text.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace pellvane::apps {

void handleWantedAppMessage(ZarvoServer& server, const ReceivedMessage& message) {
    const std::optional<wire::AppNameRecord> wanted = wire::readAppName(message);
    if (!wanted) {
        return;
    }
    server.keyFilter().applyWantedApp(&*wanted);
    // nameView stops at the field's end when the name carries no NUL. The name is the
    // pad's to choose: escaped, it cannot forge lines on the terminal that shows them.
    const std::string name = printableText(wanted->nameView());
    debug::output(L"Received wanted appplication: ");
    debug::outputNarrow(name.c_str());
    debug::output(L"\n");
}

}  // namespace pellvane::apps
