// A window in front that writes down every key message it receives, as a test of what
// the server injects: one line per message, "down 2a" or "up 1e" (the scan code in hex,
// "e" appended for an extended key), flushed at once so that the driver can follow.
#pragma once

#include <chrono>
#include <string>

namespace pellvane::e2e {

inline constexpr wchar_t keyRecorderTitle[] = L"Pellvane key recorder";

// Records into `path` until `duration` has passed or the window is closed. The first line
// is "ready" once the window is in front. Returns false when the window could not be made.
bool recordKeys(const std::wstring& path, std::chrono::milliseconds duration);

}  // namespace pellvane::e2e
