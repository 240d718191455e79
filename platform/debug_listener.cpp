#include <atomic>
#include <string>

#include "platform/debug_output.h"
#include "platform/debug_output_internal.h"

namespace pellvane::debug {
namespace {
std::atomic<Listener*> currentListener{nullptr};
}  // namespace

void setListener(Listener* listener) {
    currentListener.store(listener);
}

void notifyListener(const wchar_t* text) {
    Listener* listener = currentListener.load();
    if (listener == nullptr || text == nullptr) {
        return;
    }
    // The fixed texts are ASCII, so narrowing them keeps every character.
    std::string narrow;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        narrow.push_back(static_cast<char>(*p < 0x80 ? *p : L'?'));
    }
    listener->debugText(narrow);
}

void notifyListener(const char* text) {
    Listener* listener = currentListener.load();
    if (listener != nullptr && text != nullptr) {
        listener->debugText(text);
    }
}

}  // namespace pellvane::debug
