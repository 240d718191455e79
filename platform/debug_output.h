// The debugger output channel: where the fixed diagnostic lines go.
// Windows hands them to the debugger; POSIX writes them to standard error when asked to.
#pragma once

#include <string_view>

namespace pellvane::debug {

// Fixed texts are wide, names and other 8-bit text narrow, as the debugger channel takes them.
void output(const wchar_t* text);
void outputNarrow(const char* text);

// On POSIX nothing is written until this is switched on (the program's --debug).
void setEnabled(bool enabled);

// Receives a copy of every line as 8-bit text, whatever the platform does with it.
// Tests listen here; the program has no listener.
class Listener {
  public:
    virtual ~Listener() = default;
    virtual void debugText(std::string_view text) = 0;
};
void setListener(Listener* listener);

}  // namespace pellvane::debug
