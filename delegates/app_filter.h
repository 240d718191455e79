// A client's AppName: the application its layout is meant for, handed to the server's key
// filter.
#pragma once

#include "server/wire_protocol.h"

namespace pellvane {
class ZarvoServer;
}

namespace pellvane::apps {

// Makes the message's name the server's wanted application and traces it. A body shorter
// than one record is ignored: a name completed with zeros would block every key.
void handleWantedAppMessage(ZarvoServer& server, const ReceivedMessage& message);

}  // namespace pellvane::apps
