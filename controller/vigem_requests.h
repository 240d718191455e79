// The requests that ViGEmBus takes: their control codes and their input buffers, laid out
// byte by byte (little-endian, as the bus's structures are on every Windows machine).
#pragma once

#include <array>
#include <cstdint>

#include "controller/xusb_report.h"

namespace pellvane::vigem {

// CTL_CODE(FILE_DEVICE_BUS_EXTENDER, function, METHOD_BUFFERED, FILE_WRITE_DATA).
constexpr std::uint32_t busWriteCode(std::uint32_t function) {
    constexpr std::uint32_t busExtender = 0x2A;
    constexpr std::uint32_t writeAccess = 0x2;
    constexpr std::uint32_t buffered = 0;
    return (busExtender << 16) | (writeAccess << 14) | (function << 2) | buffered;
}

inline constexpr std::uint32_t plugInTargetCode = busWriteCode(0x801);
inline constexpr std::uint32_t unplugTargetCode = busWriteCode(0x802);
inline constexpr std::uint32_t checkVersionCode = busWriteCode(0x803);
// Buses before 1.17 do not know it; the plug-in stands without it there.
inline constexpr std::uint32_t waitDeviceReadyCode = busWriteCode(0x804);
inline constexpr std::uint32_t xusbSubmitReportCode = busWriteCode(0xA02);

// The interface version the bus must accept before it takes anything else.
inline constexpr std::uint32_t commonVersion = 0x0001;
inline constexpr std::uint32_t xbox360WiredTarget = 0;
// The wired Xbox 360 controller's own identity, which games look for.
inline constexpr std::uint16_t xbox360VendorId = 0x045E;
inline constexpr std::uint16_t xbox360ProductId = 0x028E;

// VIGEM_CHECK_VERSION: size, version.
std::array<std::uint8_t, 8> checkVersionRequest();
// VIGEM_PLUGIN_TARGET: size, serial, target type, vendor (u16), product (u16).
std::array<std::uint8_t, 16> plugInRequest(std::uint32_t serial);
// VIGEM_WAIT_DEVICE_READY: size, serial.
std::array<std::uint8_t, 8> waitDeviceReadyRequest(std::uint32_t serial);
// VIGEM_UNPLUG_TARGET: size, serial.
std::array<std::uint8_t, 8> unplugRequest(std::uint32_t serial);
// XUSB_SUBMIT_REPORT: size, serial, then XUSB_REPORT: buttons (u16), left and right
// trigger (u8 each), then the four thumb axes (s16 each: LX, LY, RX, RY).
std::array<std::uint8_t, 20> submitReportRequest(std::uint32_t serial, const xusb::Report& report);

}  // namespace pellvane::vigem
