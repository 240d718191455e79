// The HID code reports on standard output rather than the debugger channel.
#pragma once

namespace pellvane {

// Flushed at once, so that a line reaches a pipe or log before a blocking device call.
[[gnu::format(printf, 1, 2)]] void printHidLine(const char* format, ...);

}  // namespace pellvane
