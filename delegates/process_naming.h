// Applications are named by the base name of their process image: a process started from
// C:\Windows\notepad.exe is "notepad".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/desktop.h"
#include "server/wire_protocol.h"

namespace pellvane::apps {

// The characters after the last separator, up to the first '.' after it. Nothing when the
// path holds no separator; an empty name for a base name that begins with '.'.
std::optional<std::string_view> baseNameOf(std::string_view imagePath, char separator);

// Fills `record` with the process's id and name. False when the process cannot be opened
// (the record is left as it was) or its image path cannot be told.
bool nameProcess(desktop::Desktop& desktop, wire::AppNameRecord& record, std::uint32_t processId);

// True when at least one top-level window, hidden ones included, belongs to the process.
bool ownsTopLevelWindow(desktop::Desktop& desktop, std::uint32_t processId);

}  // namespace pellvane::apps
