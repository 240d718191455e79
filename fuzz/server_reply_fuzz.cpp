// Any message from a server through what pellvane-pad prints of it, read as the tool reads
// it: the server's name of a Refusal, the HelloReply with its application list, and every
// message after admission (UdpInfo, AppName, ChannelEvent, anything else). A client must
// never read past what a server sent, whatever the counts and sizes inside say.
#include <algorithm>
#include <cstdint>
#include <string>

#include "fuzz/support/require.h"
#include "server/wire_reading.h"
#include "tools/message_report.h"

namespace {

using namespace pellvane;

using pellvane::fuzzing::require;

// Nothing a server sends can start a line or a terminal sequence of its own: the only
// control character is each line's own end.
void requirePrintableLines(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        require((byte >= 0x20 && byte != 0x7F) || byte == '\n');
    }
    require(!text.empty() && text.back() == '\n');
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The header as the tool's reader decodes it; the bytes may say anything else.
    const ReceivedMessage message{wire::readHeader({data, size}).value_or(wire::MessageHeader{}),
                                  Message(data, data + size)};
    if (message.header.type == wire::Refusal) {
        const std::string name = tool::serverNameOf(message);
        require(name.size() <= 4 * wire::nameFieldSize);
        require(name.find('\n') == std::string::npos);
    }
    if (message.header.type == wire::HelloReply) {
        const std::string reply = tool::describeHelloReply(message);
        requirePrintableLines(reply);
        // One line for the reply and one per record, and never more records than fit.
        const std::size_t lines =
            static_cast<std::size_t>(std::count(reply.begin(), reply.end(), '\n'));
        require((lines - 1) * wire::appNameRecordSize + wire::helloReplyBaseSize <=
                std::max(size, wire::helloReplyBaseSize));
    }
    const std::string line = tool::describeMessage(message);
    requirePrintableLines(line);
    require(std::count(line.begin(), line.end(), '\n') == 1);
    return 0;
}
