// A keyboard whose layout a test describes key by key, and which records every record,
// pause and beep in the order they happened.
#pragma once

#include <map>
#include <mutex>
#include <vector>

#include "platform/keyboard.h"

namespace pellvane::testing {

class FakeKeyboard : public keyboard::Keyboard {
  public:
    static constexpr keyboard::LayoutHandle layoutHandle = 0x04090409;

    struct Event {
        enum class Kind { record, pause, beep };
        Kind kind = Kind::record;
        keyboard::KeyRecord record;
        std::uint32_t frequency = 0;
        std::uint32_t milliseconds = 0;
    };

    // A character typed by a virtual key with a shift state (1 Shift, 2 Ctrl, 4 Alt).
    void setCharacter(char16_t character, std::uint8_t virtualKey, std::uint8_t shiftState = 0);
    void setScanCode(std::uint32_t virtualKey, std::uint32_t scanCode);
    void setExtraInfo(std::uintptr_t extraInfo);

    keyboard::LayoutHandle currentLayout() override { return layoutHandle; }
    std::uint16_t keyForCharacter(char16_t character, keyboard::LayoutHandle layout) override;
    std::uint32_t scanCodeForKey(std::uint32_t virtualKey, keyboard::LayoutHandle layout) override;
    std::uintptr_t messageExtraInfo() override;
    void sendRecord(const keyboard::KeyRecord& record) override;
    void pause(std::uint32_t milliseconds) override;
    void beep(std::uint32_t frequency, std::uint32_t milliseconds) override;

    std::vector<Event> events() const;
    std::vector<keyboard::KeyRecord> records() const;
    int pauseCount() const;
    int beepCount() const;
    // Lookups asked with a layout other than the one this keyboard handed out.
    int foreignLayoutLookups() const;
    void clearEvents();

  private:
    void note(keyboard::LayoutHandle layout);

    mutable std::mutex mutex_;  // guards every field below
    std::map<char16_t, std::uint16_t> characters_;
    std::map<std::uint32_t, std::uint32_t> scanCodes_;
    std::uintptr_t extraInfo_ = 0;
    std::vector<Event> events_;
    int foreignLayoutLookups_ = 0;
};

}  // namespace pellvane::testing
