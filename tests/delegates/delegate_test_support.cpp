#include "tests/delegates/delegate_test_support.h"

#include "platform/sockets.h"
#include "server/wire_building.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {

ReceivedMessage keyMessage(std::uint32_t type, const std::vector<wire::KeyEntry>& entries,
                           std::optional<std::uint32_t> argument) {
    ReceivedMessage message = received(wire::buildKeyMessage(type, entries));
    if (argument) {
        message.header.argument = *argument;
        wire::writeHeader(message.bytes, message.header);
    }
    return message;
}

// The first field of an entry is never read: it carries a marker that must not show anywhere.
wire::KeyEntry keyAt(std::uint32_t keyIndex) {
    return {0xDEADBEEF, wire::noCharacter, keyIndex};
}

wire::KeyEntry character(std::uint32_t character) {
    return {0xDEADBEEF, character, wire::noKeyIndex};
}

void blockKeys(ZarvoServer& server) {
    server.keyFilter().replaceForegroundApp(named("game"));
    const wire::AppNameRecord other = named("other");
    server.keyFilter().applyWantedApp(&other);
}

ServerEnvironment::ServerEnvironment() : library_(PELLVANE_FAKE_DNSSD) {
    net::startSocketLibrary();
}

ServerEnvironment::~ServerEnvironment() {
    net::stopSocketLibrary();
}

std::unique_ptr<ZarvoServer> makeServer(ZarvoConnectionDelegate* delegate, const char* type,
                                        const char* domain) {
    auto server = std::make_unique<ZarvoServer>("Pellvane Test", type, domain);
    server->setDelegate(delegate);
    return server;
}

}  // namespace pellvane::testing
