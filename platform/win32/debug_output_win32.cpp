#include <windows.h>

#include "platform/debug_output.h"
#include "platform/debug_output_internal.h"

namespace pellvane::debug {

// The debugger channel is always open on Windows; a debugger or DebugView shows it.
void setEnabled(bool) {}

void output(const wchar_t* text) {
    notifyListener(text);
    OutputDebugStringW(text);
}

void outputNarrow(const char* text) {
    notifyListener(text);
    OutputDebugStringA(text);
}

}  // namespace pellvane::debug
