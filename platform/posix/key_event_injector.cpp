#include "platform/posix/key_event_injector.h"

#include <linux/input-event-codes.h>

#include "platform/posix/linux_key_codes.h"
#include "platform/posix/us_layout.h"

namespace pellvane::keyboard {
namespace {

using input::InputEvent;

void appendKeyChange(std::vector<InputEvent>& events, std::uint16_t key, bool down) {
    events.push_back({EV_KEY, key, down ? 1 : 0});
    events.push_back({EV_SYN, SYN_REPORT, 0});
}

struct Modifier {
    std::uint16_t state;
    std::uint16_t key;
};
// Pressed in this order before the key, released in the opposite order after it.
constexpr Modifier modifiers[] = {
    {shiftState, KEY_LEFTSHIFT}, {controlState, KEY_LEFTCTRL}, {altState, KEY_LEFTALT}};

// The US layout types characters only with keys whose scan codes need no E0 prefix.
std::uint16_t linuxKeyOf(std::uint16_t usKey) {
    return linuxKeyForScanCode(usScanCodeForKey(usKey & 0xFF), false);
}

// A character in a Unicode record is typed with a key when it is printable or has a key of
// its own. The control characters that the layout reaches only with Control would trigger
// shortcuts (Ctrl+W closes windows) instead of typing anything.
bool typedWithKey(char16_t character) {
    return (character >= 0x20 && character <= 0x7E) || character == u'\b' || character == u'\t' ||
           character == u'\r' || character == 0x1B;
}

std::vector<InputEvent> usKeyStroke(std::uint16_t usKey, bool release) {
    std::vector<InputEvent> events;
    const std::uint16_t key = linuxKeyOf(usKey);
    if (key == KEY_RESERVED) {
        return events;
    }
    if (release) {
        appendKeyChange(events, key, false);
    }
    for (std::size_t i = 0; i < std::size(modifiers); ++i) {
        const Modifier& modifier = modifiers[release ? std::size(modifiers) - 1 - i : i];
        if ((usKey & modifier.state) != 0) {
            appendKeyChange(events, modifier.key, !release);
        }
    }
    if (!release) {
        appendKeyChange(events, key, true);
    }
    return events;
}

void appendTap(std::vector<InputEvent>& events, std::uint16_t key) {
    appendKeyChange(events, key, true);
    appendKeyChange(events, key, false);
}

std::vector<InputEvent> hexInputSequence(std::uint32_t codePoint) {
    std::vector<InputEvent> events;
    appendKeyChange(events, KEY_LEFTCTRL, true);
    appendKeyChange(events, KEY_LEFTSHIFT, true);
    appendTap(events, KEY_U);
    appendKeyChange(events, KEY_LEFTSHIFT, false);
    appendKeyChange(events, KEY_LEFTCTRL, false);
    constexpr char digits[] = "0123456789abcdef";
    bool leading = true;
    for (int shift = 20; shift >= 0; shift -= 4) {
        const unsigned digit = (codePoint >> shift) & 0xF;
        if (leading && digit == 0 && shift > 0) {
            continue;
        }
        leading = false;
        appendTap(events, linuxKeyOf(usKeyForCharacter(static_cast<char16_t>(digits[digit]))));
    }
    appendTap(events, KEY_SPACE);
    return events;
}

bool isHighSurrogate(char16_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool isLowSurrogate(char16_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

}  // namespace

KeyEventInjector::KeyEventInjector(input::InputEventSink& device, UnicodeFallback fallback)
    : device_(device), fallback_(fallback) {}

InjectOutcome KeyEventInjector::inject(const KeyRecord& record) {
    const bool release = (record.dwFlags & keyUp) != 0;
    if ((record.dwFlags & unicode) != 0) {
        return injectCharacter(static_cast<char16_t>(record.wScan), release);
    }
    pendingHighSurrogate_ = 0;
    const std::uint16_t key =
        (record.dwFlags & scanCode) != 0
            ? linuxKeyForScanCode(record.wScan, (record.dwFlags & extendedKey) != 0)
            : linuxKeyForVirtualKey(record.wVk);
    if (key == KEY_RESERVED) {
        return InjectOutcome::noKey;
    }
    if (!release && isRefusedPress(key)) {
        return InjectOutcome::refused;
    }
    std::vector<InputEvent> events;
    appendKeyChange(events, key, !release);
    return send(events);
}

bool KeyEventInjector::isHeld(std::uint16_t key) const {
    return held_.count(key) != 0;
}

bool KeyEventInjector::isRefusedPress(std::uint16_t key) const {
    const bool alt = isHeld(KEY_LEFTALT) || isHeld(KEY_RIGHTALT);
    const bool control = isHeld(KEY_LEFTCTRL) || isHeld(KEY_RIGHTCTRL);
    return (key == KEY_SYSRQ && alt) || ((key == KEY_DELETE || key == KEY_KPDOT) && alt && control);
}

bool KeyEventInjector::releaseHeldKeys() {
    std::vector<InputEvent> events;
    for (const std::uint16_t key : held_) {
        appendKeyChange(events, key, false);
    }
    held_.clear();
    return events.empty() || device_.emit(events);
}

InjectOutcome KeyEventInjector::injectCharacter(char16_t character, bool release) {
    if (typedWithKey(character)) {
        pendingHighSurrogate_ = 0;
        const std::uint16_t usKey = usKeyForCharacter(character);
        return usKey == noKeyForCharacter ? InjectOutcome::noKey
                                          : send(usKeyStroke(usKey, release));
    }
    if (fallback_ == UnicodeFallback::skip) {
        return InjectOutcome::characterSkipped;
    }
    // The whole sequence goes out with the press; the release has nothing left to do.
    if (release) {
        return InjectOutcome::injected;
    }
    if (isHighSurrogate(character)) {
        pendingHighSurrogate_ = character;
        return InjectOutcome::injected;
    }
    const char16_t high = pendingHighSurrogate_;
    pendingHighSurrogate_ = 0;
    if (isLowSurrogate(character)) {
        if (high == 0) {
            return InjectOutcome::characterSkipped;  // half a character types nothing
        }
        return send(hexInputSequence(0x10000 + ((static_cast<std::uint32_t>(high) - 0xD800) << 10) +
                                     (static_cast<std::uint32_t>(character) - 0xDC00)));
    }
    return send(hexInputSequence(character));
}

InjectOutcome KeyEventInjector::send(const std::vector<InputEvent>& events) {
    if (events.empty()) {
        return InjectOutcome::noKey;
    }
    // Noted before the write: releasing a key that never went down is harmless, a key left
    // down is not.
    for (const InputEvent& event : events) {
        if (event.type == EV_KEY) {
            if (event.value != 0) {
                held_.insert(event.code);
            } else {
                held_.erase(event.code);
            }
        }
    }
    return device_.emit(events) ? InjectOutcome::injected : InjectOutcome::deviceFailed;
}

}  // namespace pellvane::keyboard
