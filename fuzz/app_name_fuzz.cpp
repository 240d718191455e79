// Any AppName message from a client through handleWantedAppMessage, with or without a
// known foreground application: the wanted record and the key filter must follow the rule.
//
// Input: one settings byte (bit 0 a foreground application is known, bit 1 it is named as
// the message names the wanted one), then the message; its size and type fields are set as
// the server hands it on.
#include <cstdint>

#include "delegates/app_filter.h"
#include "fuzz/support/fuzz_message.h"
#include "fuzz/support/require.h"
#include "server/zarvo_server.h"

namespace {

using namespace pellvane;

using pellvane::fuzzing::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool foregroundKnown = (data[0] & 1) != 0;
    const bool foregroundMatches = (data[0] & 2) != 0;
    const ReceivedMessage message = fuzzing::messageOfType({data + 1, size - 1}, wire::AppName);

    // A fresh server each time: the filter starts with nothing wanted and nothing in front.
    ZarvoServer server("FuzzHost", "_kesp._tcp", "");
    KeyFilter& filter = server.keyFilter();
    const std::optional<wire::AppNameRecord> wanted = wire::readAppName(message);
    wire::AppNameRecord foreground;
    foreground.setName("explorer");
    if (foregroundMatches && wanted) {
        foreground = *wanted;
    }
    if (foregroundKnown) {
        filter.replaceForegroundApp(foreground);
    }

    apps::handleWantedAppMessage(server, message);

    if (!wanted) {
        require(message.bytes.size() < wire::appNameSize);
        require(filter.wantedApp() == wire::AppNameRecord{});
        require(!filter.keysBlocked());
        return 0;
    }
    require(filter.wantedApp() == *wanted);
    require(filter.wantedApp().nameView().size() <= wire::nameFieldSize);
    const bool shouldBlock = foregroundKnown && wanted->nameView() != KeyFilter::genericAppName &&
                             foreground.nameView() != wanted->nameView();
    require(filter.keysBlocked() == shouldBlock);
    return 0;
}
