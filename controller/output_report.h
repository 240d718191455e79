// The 65-byte output report that carries the whole controller state to the device.
#pragma once

#include <cstdint>
#include <span>

#include "controller/controller_device.h"
#include "controller/controller_state.h"
#include "platform/hid.h"

namespace pellvane {

// The fixed bytes of the report, and where the state starts.
inline constexpr std::uint8_t reportIdByte = 0x40;
inline constexpr std::uint8_t reportLengthByte = 0x12;
inline constexpr std::uint8_t reportKindByte = 0x02;
inline constexpr std::size_t reportStateOffset = 3;

// Bytes 0-19: 0x40 (the report ID position), 0x12 (the 18 bytes from 2 to 19), 0x02, then
// the 17 state bytes. The bytes after them are left as they are.
void buildReport(const ControllerState& state,
                 std::span<std::uint8_t, controllerReportSize> report);

// Builds the report in `device`'s buffer and writes it to the report handle: 1 when the
// device took it, 0 otherwise (a null device or state included).
int writeReport(platform::Hid& hid, ControllerDevice* device, const ControllerState* state);

}  // namespace pellvane
