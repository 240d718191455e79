// An open virtual controller: one handle on each of its two HID collections and the buffer
// in which each output report is built.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/hid.h"

namespace pellvane {

// The output report: 3 fixed bytes, the 17 state bytes, and padding up to the size that
// the device's output report takes.
inline constexpr std::size_t controllerReportSize = 65;

struct ControllerDevice {
    // The usage-1 collection; output reports go here.
    platform::HidHandle reportHandle = platform::nullHidHandle;
    // The usage-2 collection; given its input buffers at open, then left alone.
    platform::HidHandle auxHandle = platform::nullHidHandle;
    // Bytes 20-64 stay zero for the record's life: only bytes 0-19 are ever written.
    std::array<std::uint8_t, controllerReportSize> report{};
};

}  // namespace pellvane
