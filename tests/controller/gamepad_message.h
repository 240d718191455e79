// GamepadEvent bodies for tests, as the wire protocol hands them to the controller.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "server/wire_protocol.h"

namespace pellvane::testing {

inline wire::GamepadEventBody axesEvent(std::vector<wire::GamepadPair> pairs) {
    return {wire::gamepadAxes, std::move(pairs)};
}

inline wire::GamepadEventBody buttonEvent(std::uint32_t button, float value) {
    return {wire::gamepadButton, {{button, value}}};
}

}  // namespace pellvane::testing
