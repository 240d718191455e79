// The pad client's key positions and the Windows virtual keys they stand for, with the two
// sets of keys that change how a record is built.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "server/wire_protocol.h"

namespace pellvane::keys {

// One entry for each key position a pad can send.
inline constexpr std::size_t keyCodeTableSize = wire::keyIndexLimit;
// A position without a key; it is not singled out and looks up like any other value.
inline constexpr std::uint16_t noVirtualKey = 0xFFFF;

extern const std::array<std::uint16_t, keyCodeTableSize> keyCodeTable;

// The virtual key at a position; nothing for a position outside the table.
std::optional<std::uint16_t> virtualKeyAt(std::uint32_t keyIndex);

// Keys whose records carry the extended-key flag.
bool isExtendedKey(std::uint32_t virtualKey);
// Keys sent by virtual-key code rather than scan code (key positions only).
bool isSentAsVirtualKey(std::uint32_t virtualKey);

}  // namespace pellvane::keys
