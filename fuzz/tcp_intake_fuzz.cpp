// A client's byte stream, cut where the input says, through the TCP intake of a pad or
// channel service: the frame decoder, admission and message handling, all in memory.
//
// Input: one settings byte (bit 0 channel service, bit 1 the delegate refuses, bit 2 an
// application list), then segments of one length byte and that many bytes; each segment
// arrives on its own and is read at once. A length byte of 255 closes the connection.
#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz/support/intake_driver.h"
#include "fuzz/support/require.h"
#include "server/wire_cursor.h"

namespace {

namespace wire = pellvane::wire;

constexpr std::uint8_t closeMarker = 255;

using pellvane::fuzzing::require;

std::uint32_t u32At(std::span<const std::uint8_t> bytes, std::size_t offset) {
    std::uint32_t value = 0;
    require(wire::Reader(bytes, offset).u32(value));
    return value;
}

// What the server must have handed on, worked out from the whole stream without the
// server's code: the messages framed one after another (a header out of range loses its 12
// bytes), then the admission rules of the service.
struct Expected {
    std::vector<std::span<const std::uint8_t>> delivered;  // in the stream
    bool admitted = false;
    bool dropped = false;
};

Expected expectedFrom(const std::vector<std::uint8_t>& stream,
                      const pellvane::fuzzing::IntakeSettings& settings) {
    Expected expected;
    expected.delivered.reserve(stream.size() / wire::headerSize);
    bool pending = true;
    std::size_t position = 0;
    while (stream.size() - position >= wire::headerSize && !expected.dropped) {
        const std::uint32_t size = u32At(stream, position + wire::headerLayout::packetSize);
        if (size < wire::headerSize || size > wire::MAXUINT16) {
            position += wire::headerSize;
            continue;
        }
        if (stream.size() - position < size) {
            break;
        }
        const auto message = std::span(stream).subspan(position, size);
        position += size;
        const std::uint32_t type = u32At(message, wire::headerLayout::type);
        if (!pending) {
            if (type != wire::UdpInfo) {
                expected.delivered.push_back(message);
            }
        } else if (settings.autoAdmit) {
            pending = false;
            expected.admitted = true;
            expected.delivered.push_back(message);
        } else if (type == wire::Hello &&
                   u32At(message, wire::headerLayout::argument) == wire::helloArgument &&
                   !settings.refuse) {
            pending = false;
            expected.admitted = true;
        } else if (type != wire::HelloReply) {
            expected.dropped = true;
        }
    }
    return expected;
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
    static pellvane::fuzzing::IntakeDriver driver;
    driver.begin(settings);
    require(driver.connectClient());
    static std::vector<std::uint8_t> stream;  // what the server was given; its memory kept
    stream.clear();
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
        if (driver.clientOpen()) {
            stream.insert(stream.end(), segment.begin(), segment.end());
        }
        driver.feed(segment);
    }

    const Expected expected = expectedFrom(stream, settings);
    const auto& messages = driver.delegate().messages;
    require(messages.size() == expected.delivered.size());
    for (std::size_t i = 0; i < messages.size(); ++i) {
        require(std::ranges::equal(messages[i].bytes, expected.delivered[i]));
        require(messages[i].header.packetSize == messages[i].bytes.size());
    }
    require(driver.delegate().admissions == (expected.admitted ? 1 : 0));
    require(driver.delegate().questions <= 1);
    require(driver.clientWatched() == !(expected.dropped || closed));
    driver.end();
    require(driver.heldByServer() == 0);  // nothing of the client stays behind
    return 0;
}
