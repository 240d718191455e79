// Any AppName message from a client through handleWantedAppMessage, with or without a
// known foreground application: the wanted record and keysBlocked must follow the rule.
//
// Input: one settings byte (bit 0 a foreground application is known, bit 1 it is named as
// the message names the wanted one), then the message; its size and type fields are set as
// the server hands it on.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "delegates/app_filter.h"
#include "server/zarvo_server.h"

namespace {

using namespace pellvane;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool foregroundKnown = (data[0] & 1) != 0;
    const bool foregroundMatches = (data[0] & 2) != 0;
    Message message(data + 1, data + size);
    if (message.size() < wire::headerSize) {
        message.resize(wire::headerSize, 0);
    }
    wire::writeU32(message, 0, static_cast<std::uint32_t>(message.size()));
    wire::writeU32(message, 4, wire::AppName);

    ZarvoServer server("FuzzHost", "_kesp._tcp", "");
    wire::AppNameRecord foreground;
    foreground.setName("explorer");
    if (foregroundMatches && message.size() >= wire::appNameSize) {
        foreground = wire::readAppNameRecord(message, wire::headerSize);
    }
    if (foregroundKnown) {
        std::lock_guard guard(server.appFilterLock);
        server.foregroundApp = std::make_unique<wire::AppNameRecord>(foreground);
    }

    apps::handleWantedAppMessage(server, message);

    std::lock_guard guard(server.appFilterLock);
    if (message.size() < wire::appNameSize) {
        require(server.wantedApp == wire::AppNameRecord{});
        require(server.keysBlocked.load() == 0);
        return 0;
    }
    const wire::AppNameRecord wanted = wire::readAppNameRecord(message, wire::headerSize);
    require(server.wantedApp == wanted);
    require(server.wantedApp.nameView().size() <= wire::nameFieldSize);
    const bool shouldBlock = foregroundKnown && wanted.nameView() != apps::genericAppName &&
                             foreground.nameView() != wanted.nameView();
    require((server.keysBlocked.load() != 0) == shouldBlock);
    return 0;
}
