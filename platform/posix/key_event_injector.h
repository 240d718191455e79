// Keyboard records turned into key events on a virtual keyboard. It remembers which keys it
// holds down, so that none stays pressed on the desktop when the program ends.
#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "platform/keyboard.h"
#include "platform/posix/input_events.h"

namespace pellvane::keyboard {

// What becomes of a character that no key of the US layout types.
enum class UnicodeFallback {
    skip,
    // Ctrl+Shift+U, the code point in hex, Space: the input method of IBus and GTK
    // applications composes the character; other applications see those keys.
    hexInput,
};

enum class InjectOutcome {
    injected,
    noKey,             // the record names no key that Linux has: nothing was sent
    characterSkipped,  // a character the US layout lacks, with UnicodeFallback::skip
    refused,           // Alt+SysRq or Ctrl+Alt+Delete: the press was not sent
    deviceFailed,      // the device did not take the events
};

class KeyEventInjector {
  public:
    KeyEventInjector(input::InputEventSink& device, UnicodeFallback fallback);

    // Each key change is followed by a SYN_REPORT, as a real keyboard reports it. Two
    // presses are refused: SysRq while Alt is down (the kernel takes the next key as a
    // command: reboot, crash, kill every process) and Delete while Control and Alt are down
    // (a text console restarts the computer); Windows does not let injected keys do either.
    InjectOutcome inject(const KeyRecord& record);
    // Releases every key that a press left down; false when the device failed.
    bool releaseHeldKeys();

  private:
    InjectOutcome injectCharacter(char16_t character, bool release);
    bool isHeld(std::uint16_t key) const;
    bool isRefusedPress(std::uint16_t key) const;
    InjectOutcome send(const std::vector<input::InputEvent>& events);

    input::InputEventSink& device_;
    UnicodeFallback fallback_;
    std::set<std::uint16_t> held_;
    // The first half of a character beyond U+FFFF, waiting for its second half.
    char16_t pendingHighSurrogate_ = 0;
};

}  // namespace pellvane::keyboard
