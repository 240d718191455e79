// What the virtual controller is to the HID layer: its identity and its report descriptor,
// two top-level collections on the vendor page 0xFF00 that the server's discovery looks for.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "controller/controller_discovery.h"
#include "controller/output_report.h"

namespace pellvane::vpad {

// The usage-2 collection's input report; nothing ever sends it.
inline constexpr std::uint8_t auxReportId = 0x41;
// Each report's bytes after its report ID.
inline constexpr std::size_t reportPayloadSize = 64;

static_assert(1 + reportPayloadSize == controllerReportSize);

inline constexpr std::array<std::uint8_t, 34> controllerReportDescriptor = {
    0x06, 0x00, 0xFF,  // Usage Page (vendor 0xFF00)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x40,        //   Report ID (0x40): the output report the server writes
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x40,        //   Report Count (64)
    0x09, 0x01,        //   Usage (1)
    0x91, 0x02,        //   Output (Data, Variable, Absolute)
    0xC0,              // End Collection
    0x09, 0x02,        // Usage (2)
    0xA1, 0x01,        // Collection (Application)
    0x85, 0x41,        //   Report ID (0x41); size, count and range carry over
    0x09, 0x02,        //   Usage (2)
    0x81, 0x02,        //   Input (Data, Variable, Absolute)
    0xC0,              // End Collection
};

static_assert(reportIdByte == 0x40, "the descriptor names the output report's ID");

}  // namespace pellvane::vpad
