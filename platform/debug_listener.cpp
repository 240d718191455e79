#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/debug_output.h"
#include "platform/debug_output_internal.h"

namespace pellvane::debug {
namespace {

// Held while a listener is called and while it is replaced, so that a listener taken away
// is never called again once setListener has returned, even by a thread that was about to.
std::mutex listenerLock;
// Guarded by listenerLock for changes; also read without it, only to skip the lock when
// nobody listens.
std::atomic<Listener*> currentListener{nullptr};

void deliver(std::string_view text) {
    if (currentListener.load() == nullptr) {
        return;
    }
    std::lock_guard guard(listenerLock);
    if (Listener* listener = currentListener.load()) {
        listener->debugText(text);
    }
}

}  // namespace

void setListener(Listener* listener) {
    std::lock_guard guard(listenerLock);
    currentListener.store(listener);
}

void notifyListener(const wchar_t* text) {
    if (text == nullptr || currentListener.load() == nullptr) {
        return;
    }
    // The fixed texts are ASCII, so narrowing them keeps every character.
    std::string narrow;
    for (const wchar_t* p = text; *p != L'\0'; ++p) {
        narrow.push_back(static_cast<char>(*p < 0x80 ? *p : L'?'));
    }
    deliver(narrow);
}

void notifyListener(const char* text) {
    if (text != nullptr) {
        deliver(text);
    }
}

}  // namespace pellvane::debug
