// A virtual input device made through /dev/uinput (<dev>/uinput, see device_paths.h): it
// exists from create() until the object is destroyed, and the events emitted to it reach
// every reader of its event node as if a real keyboard or controller had sent them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/file_descriptor.h"
#include "platform/posix/input_events.h"

namespace pellvane::input {

struct AbsoluteAxis {
    std::uint16_t code = 0;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
    std::int32_t initialValue = 0;
};

struct UinputDeviceSpec {
    std::string name;
    std::uint16_t bus = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t version = 1;
    std::vector<std::uint16_t> keys;  // EV_KEY codes the device can send
    std::vector<AbsoluteAxis> axes;   // EV_ABS axes the device can send
};

class UinputDevice final : public InputEventSink {
  public:
    // The device, or null with `error` saying what failed ("cannot open /dev/uinput:
    // Permission denied").
    static std::unique_ptr<UinputDevice> create(const UinputDeviceSpec& spec, std::string& error);

    // Removes the device; readers of its event node see it go.
    ~UinputDevice() override;
    UinputDevice(const UinputDevice&) = delete;
    UinputDevice& operator=(const UinputDevice&) = delete;

    bool emit(std::span<const InputEvent> events) override;

  private:
    explicit UinputDevice(posix::FileDescriptor file) : file_(std::move(file)) {}

    posix::FileDescriptor file_;
};

}  // namespace pellvane::input
