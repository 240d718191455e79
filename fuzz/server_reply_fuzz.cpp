// Any message from a server through what pellvane-pad prints of it: the HelloReply with its
// application list, UdpInfo, AppName, ChannelEvent and anything else. A client must never
// read past what a server sent, whatever the counts and sizes inside say.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "server/wire_protocol.h"
#include "tools/message_report.h"

namespace {

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const pellvane::Message message(data, data + size);
    const std::string reply = pellvane::tool::describeHelloReply(message);
    const std::string line = pellvane::tool::describeMessage(message);
    pellvane::tool::udpPortsOf(message);
    const std::string name = pellvane::tool::serverNameOf(message);
    require(name.size() <= 4 * pellvane::wire::nameFieldSize);
    // Nothing a server sends can start a line or a terminal sequence of its own.
    for (const std::string* text : {&name, &line}) {
        for (std::size_t i = 0; i < text->size(); ++i) {
            const auto byte = static_cast<unsigned char>((*text)[i]);
            require((byte >= 0x20 && byte != 0x7F) || (byte == '\n' && i + 1 == text->size()));
        }
    }
    require(!line.empty() && line.back() == '\n');
    // One line for the reply and one per record, and never more records than fit.
    const std::size_t records = pellvane::wire::readHelloReplyApps(message).size();
    require(records * pellvane::wire::appNameRecordSize + pellvane::wire::helloReplyBaseSize <=
            std::max(size, pellvane::wire::helloReplyBaseSize));
    std::size_t lines = 0;
    for (char c : reply) {
        lines += c == '\n' ? 1 : 0;
    }
    require(lines == 1 + records);
    return 0;
}
