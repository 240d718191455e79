#include "tools/event_messages.h"

#include <algorithm>

namespace pellvane::tool {
namespace {

constexpr std::size_t gamepadPrefixSize = 8;  // kind, pairCount
constexpr std::size_t gamepadPairSize = 8;    // id, value

Message messageWithBody(std::uint32_t type, std::uint32_t argument, std::size_t bodySize) {
    Message message(wire::headerSize + bodySize, 0);
    wire::writeHeader(message, {static_cast<std::uint32_t>(message.size()), type, argument});
    return message;
}

}  // namespace

Message buildKeyMessage(std::uint32_t type, std::span<const KeyEntry> entries) {
    Message message = messageWithBody(type, static_cast<std::uint32_t>(entries.size()),
                                      entries.size() * keyEntrySize);
    std::size_t offset = wire::headerSize;
    for (const KeyEntry& entry : entries) {
        wire::writeU32(message, offset, 0);  // not read by the server
        wire::writeU32(message, offset + 4, entry.character);
        wire::writeU32(message, offset + 8, entry.keyIndex);
        offset += keyEntrySize;
    }
    return message;
}

Message buildGamepadAxes(std::span<const AxisValue> axes) {
    const std::size_t bodySize = gamepadPrefixSize + axes.size() * gamepadPairSize;
    Message message =
        messageWithBody(wire::GamepadEvent, static_cast<std::uint32_t>(bodySize), bodySize);
    wire::writeU32(message, 12, gamepadAxes);
    wire::writeU32(message, 16, static_cast<std::uint32_t>(axes.size()));
    std::size_t offset = wire::headerSize + gamepadPrefixSize;
    for (const AxisValue& axis : axes) {
        wire::writeU32(message, offset, axis.id);
        wire::writeF32(message, offset + 4, axis.value);
        offset += gamepadPairSize;
    }
    return message;
}

Message buildGamepadButton(std::uint32_t button, bool pressed) {
    const std::size_t bodySize = gamepadPrefixSize + gamepadPairSize;
    Message message =
        messageWithBody(wire::GamepadEvent, static_cast<std::uint32_t>(bodySize), bodySize);
    wire::writeU32(message, 12, gamepadButton);
    wire::writeU32(message, 16, 1);
    wire::writeU32(message, 20, button);
    wire::writeF32(message, 24, pressed ? 1.0f : 0.0f);
    return message;
}

Message buildWantedApp(std::string_view name) {
    wire::AppNameRecord record;
    record.setName(name);  // cut to 127 bytes, so the field keeps its NUL
    return wire::buildAppName(record);
}

Message buildChannelEvent(std::span<const std::uint8_t> body) {
    Message message =
        messageWithBody(wire::ChannelEvent, static_cast<std::uint32_t>(body.size()), body.size());
    std::copy(body.begin(), body.end(), message.begin() + wire::headerSize);
    return message;
}

}  // namespace pellvane::tool
