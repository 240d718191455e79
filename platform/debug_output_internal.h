// Shared by the platform implementations of debug output.
#pragma once

namespace pellvane::debug {
void notifyListener(const wchar_t* text);
void notifyListener(const char* text);
}  // namespace pellvane::debug
