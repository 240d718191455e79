// A client's byte stream, cut where the input says, through header intake, readMessage and
// handleMessage of a pad or channel service.
//
// Input: one settings byte (bit 0 channel service, bit 1 the delegate refuses, bit 2 an
// application list), then segments of one length byte and that many bytes; each segment
// arrives on its own and is read at once. A length byte of 255 closes the connection.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "fuzz/support/intake_driver.h"

namespace {

using pellvane::Message;
namespace wire = pellvane::wire;

constexpr std::uint8_t closeMarker = 255;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// What the server handed on must be whole messages, taken from the stream in order, and,
// without autoAdmit, only after an admission.
void checkDelivered(pellvane::testing::RecordingDelegate& delegate,
                    const std::vector<std::uint8_t>& stream, bool autoAdmit) {
    const auto messages = delegate.messages();
    auto searchFrom = stream.begin();
    for (const Message& message : messages) {
        require(message.size() >= wire::headerSize && message.size() <= wire::MAXUINT16);
        require(wire::readU32(message, 0) == message.size());
        const auto found = std::search(searchFrom, stream.end(), message.begin(), message.end());
        require(found != stream.end());
        searchFrom = found + static_cast<std::ptrdiff_t>(message.size());
    }
    const auto calls = delegate.calls();
    const auto firstMessage = std::find_if(calls.begin(), calls.end(), [](const std::string& call) {
        return call.rfind("message:", 0) == 0;
    });
    if (firstMessage != calls.end()) {
        require(std::find(calls.begin(), firstMessage, "admit") != firstMessage);
        if (!autoAdmit) {
            // Asked before admitted; and a UdpInfo over TCP is never an event.
            require(std::find(calls.begin(), firstMessage, "ask") != firstMessage);
            require(delegate.count("message:9") == 0);
        }
    }
    require(delegate.count("admit") <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    pellvane::fuzzing::IntakeSettings settings;
    settings.autoAdmit = (data[0] & 1) != 0;
    settings.refuse = (data[0] & 2) != 0;
    settings.listApps = (data[0] & 4) != 0;
    pellvane::fuzzing::IntakeDriver driver(settings);
    if (!driver.connectClient()) {
        return 0;
    }
    std::vector<std::uint8_t> stream;
    bool closed = false;
    std::size_t position = 1;
    while (position < size && !closed) {
        const std::uint8_t length = data[position++];
        if (length == closeMarker) {
            driver.closeClient();
            closed = true;
            break;
        }
        const std::size_t take = std::min<std::size_t>(length, size - position);
        const std::span<const std::uint8_t> segment(data + position, take);
        position += take;
        if (driver.clientWatched()) {
            stream.insert(stream.end(), segment.begin(), segment.end());
        }
        driver.feed(segment);
    }
    checkDelivered(driver.delegate(), stream, settings.autoAdmit);
    if (closed) {
        require(!driver.clientWatched());
        require(driver.watchedCount() == 0);
    }
    return 0;
}
