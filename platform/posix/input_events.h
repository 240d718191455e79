// Input events as the Linux input layer carries them (type, code, value), and the place a
// virtual input device takes them: the uinput device, or a recorder in tests.
#pragma once

#include <cstdint>
#include <span>

namespace pellvane::input {

struct InputEvent {
    std::uint16_t type = 0;
    std::uint16_t code = 0;
    std::int32_t value = 0;
    friend bool operator==(const InputEvent&, const InputEvent&) = default;
};

class InputEventSink {
  public:
    virtual ~InputEventSink() = default;
    // Delivers the events in order; false when the device did not take them all.
    virtual bool emit(std::span<const InputEvent> events) = 0;
};

}  // namespace pellvane::input
