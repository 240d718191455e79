// The message a fuzz target hands to a handler: the input's bytes (at least a header) with
// packetSize and type set as the server would have them when it hands such a message on.
#pragma once

#include <cstdint>
#include <span>

#include "server/wire_building.h"
#include "server/wire_reading.h"

namespace pellvane::fuzzing {

inline ReceivedMessage messageOfType(std::span<const std::uint8_t> input, std::uint32_t type) {
    ReceivedMessage message{{}, Message(input.begin(), input.end())};
    if (message.bytes.size() < wire::headerSize) {
        message.bytes.resize(wire::headerSize, 0);
    }
    message.header = *wire::readHeader(message.bytes);
    message.header.packetSize = static_cast<std::uint32_t>(message.bytes.size());
    message.header.type = type;
    wire::writeHeader(message.bytes, message.header);
    return message;
}

}  // namespace pellvane::fuzzing
