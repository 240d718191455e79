#include "tests/controller/gamepad_message.h"

namespace pellvane::testing {

Message gamepadMessage(std::uint32_t kind, const std::vector<GamepadPair>& pairs,
                       std::optional<std::uint32_t> claimedPairs) {
    Message message(20 + 8 * pairs.size(), 0);
    wire::writeHeader(message, {static_cast<std::uint32_t>(message.size()), wire::GamepadEvent, 0});
    wire::writeU32(message, 12, kind);
    wire::writeU32(message, 16, claimedPairs.value_or(static_cast<std::uint32_t>(pairs.size())));
    for (std::size_t k = 0; k < pairs.size(); ++k) {
        wire::writeU32(message, 20 + 8 * k, pairs[k].id);
        wire::writeF32(message, 24 + 8 * k, pairs[k].value);
    }
    return message;
}

Message axesMessage(const std::vector<GamepadPair>& pairs) {
    return gamepadMessage(1, pairs);
}

Message buttonMessage(std::uint32_t button, float value) {
    return gamepadMessage(2, {{button, value}});
}

}  // namespace pellvane::testing
