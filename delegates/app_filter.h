// Which application the pad client's layout is meant for, and whether keys must be dropped
// because another one is in front.
#pragma once

#include <span>
#include <string_view>

#include "server/wire_protocol.h"

namespace pellvane {
class ZarvoServer;
}

namespace pellvane::apps {

// The wanted name that suits every application.
inline constexpr std::string_view genericAppName = "<generic>";

// Makes `wanted` the server's wanted application (null changes nothing) and sets
// keysBlocked when another application than the wanted one is known to be in front.
void applyWantedApp(ZarvoServer& server, const wire::AppNameRecord* wanted);

// Applies the server's own wanted application again, after the foreground changed.
void reapplyWantedApp(ZarvoServer& server);

// An AppName message from a client. A body shorter than one record is ignored: a name
// completed with zeros would block every key.
void handleWantedAppMessage(ZarvoServer& server, std::span<const std::uint8_t> message);

}  // namespace pellvane::apps
