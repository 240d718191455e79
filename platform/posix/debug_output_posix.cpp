#include <atomic>
#include <cstdio>

#include "platform/debug_output.h"
#include "platform/debug_output_internal.h"

namespace pellvane::debug {
namespace {
std::atomic<bool> enabled{false};
}  // namespace

void setEnabled(bool on) {
    enabled.store(on);
}

void output(const wchar_t* text) {
    notifyListener(text);
    if (enabled.load() && text != nullptr) {
        std::fprintf(stderr, "%ls", text);
    }
}

void outputNarrow(const char* text) {
    notifyListener(text);
    if (enabled.load() && text != nullptr) {
        std::fputs(text, stderr);
    }
}

}  // namespace pellvane::debug
