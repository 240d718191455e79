#include <windows.h>

#include "platform/dialogs.h"

namespace pellvane::dialogs {
namespace {

class Win32Dialogs final : public Dialogs {
  public:
    int messageBox(const char* text, const char* caption, unsigned style) override {
        return MessageBoxA(nullptr, text, caption, style);
    }

    int messageBox(const wchar_t* text, const wchar_t* caption, unsigned style) override {
        return MessageBoxW(nullptr, text, caption, style);
    }
};

}  // namespace

std::unique_ptr<Dialogs> createSystemDialogs() {
    return std::make_unique<Win32Dialogs>();
}

}  // namespace pellvane::dialogs
