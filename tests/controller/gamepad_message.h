// Builds GamepadEvent messages for tests.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "server/wire_protocol.h"

namespace pellvane::testing {

struct GamepadPair {
    std::uint32_t id = 0;
    float value = 0.0f;
};

// A type 8 message holding `pairs`; `claimedPairs` overrides the pairCount field.
Message gamepadMessage(std::uint32_t kind, const std::vector<GamepadPair>& pairs,
                       std::optional<std::uint32_t> claimedPairs = std::nullopt);
Message axesMessage(const std::vector<GamepadPair>& pairs);
Message buttonMessage(std::uint32_t button, float value);

}  // namespace pellvane::testing
