#include <windows.h>

#include "platform/keyboard.h"

namespace pellvane::keyboard {
namespace {

HKL toLayout(LayoutHandle layout) {
    return reinterpret_cast<HKL>(layout);
}

class Win32Keyboard final : public Keyboard {
  public:
    LayoutHandle currentLayout() override {
        return reinterpret_cast<LayoutHandle>(GetKeyboardLayout(0));
    }

    std::uint16_t keyForCharacter(char16_t character, LayoutHandle layout) override {
        return static_cast<std::uint16_t>(
            VkKeyScanExW(static_cast<WCHAR>(character), toLayout(layout)));
    }

    std::uint32_t scanCodeForKey(std::uint32_t virtualKey, LayoutHandle layout) override {
        return MapVirtualKeyExW(virtualKey, MAPVK_VK_TO_VSC, toLayout(layout));
    }

    std::uintptr_t messageExtraInfo() override {
        return static_cast<std::uintptr_t>(GetMessageExtraInfo());
    }

    void sendRecord(const KeyRecord& record) override {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = record.wVk;
        input.ki.wScan = record.wScan;
        input.ki.dwFlags = record.dwFlags;
        input.ki.dwExtraInfo = static_cast<ULONG_PTR>(record.dwExtraInfo);
        // A blocked or dropped record is not reported reliably (UIPI sets neither the count
        // nor the last error), and the remaining records are sent regardless.
        SendInput(1, &input, sizeof input);
    }

    void pause(std::uint32_t milliseconds) override { Sleep(milliseconds); }

    void beep(std::uint32_t frequency, std::uint32_t milliseconds) override {
        // No sound device is not worth telling anyone about: the key is dropped either way.
        Beep(frequency, milliseconds);
    }
};

}  // namespace

std::unique_ptr<Keyboard> createSystemKeyboard(const SystemKeyboardOptions&) {
    return std::make_unique<Win32Keyboard>();
}

}  // namespace pellvane::keyboard
