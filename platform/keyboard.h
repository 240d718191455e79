// The keyboard: layout lookups and input injection, one record at a time.
// Windows asks the active layout and calls SendInput. Linux answers as the Windows US layout
// does and types each record on a virtual keyboard (uinput); it prints the records as the
// SendInput calls Windows would receive when asked to, or when it has no virtual keyboard.
#pragma once

#include <cstdint>
#include <memory>

namespace pellvane::keyboard {

// The flags of a keyboard input record, with the values Windows gives them.
inline constexpr std::uint32_t extendedKey = 0x1;
inline constexpr std::uint32_t keyUp = 0x2;
inline constexpr std::uint32_t unicode = 0x4;
inline constexpr std::uint32_t scanCode = 0x8;

// Answer of a character lookup that no key of the layout types.
inline constexpr std::uint16_t noKeyForCharacter = 0xFFFF;

// One keyboard input record as SendInput takes it; time is always 0.
struct KeyRecord {
    std::uint16_t wVk = 0;
    std::uint16_t wScan = 0;
    std::uint32_t dwFlags = 0;
    std::uintptr_t dwExtraInfo = 0;
    friend bool operator==(const KeyRecord&, const KeyRecord&) = default;
};

// An input locale identifier (HKL); only passed back to the lookups.
using LayoutHandle = std::uintptr_t;

class Keyboard {
  public:
    virtual ~Keyboard() = default;

    // The input locale of the calling thread.
    virtual LayoutHandle currentLayout() = 0;
    // Low byte the virtual key, high byte the shift state (1 Shift, 2 Ctrl, 4 Alt);
    // noKeyForCharacter when no key types the character.
    virtual std::uint16_t keyForCharacter(char16_t character, LayoutHandle layout) = 0;
    // The set-1 scan code of a virtual key; 0 when it has none.
    virtual std::uint32_t scanCodeForKey(std::uint32_t virtualKey, LayoutHandle layout) = 0;
    // What the input system attaches to injected records.
    virtual std::uintptr_t messageExtraInfo() = 0;
    // Injects one record. Windows reports neither a UIPI block nor a lost event reliably,
    // so no result is offered.
    virtual void sendRecord(const KeyRecord& record) = 0;
    virtual void pause(std::uint32_t milliseconds) = 0;
    // Sounds a tone and returns when it has ended.
    virtual void beep(std::uint32_t frequency, std::uint32_t milliseconds) = 0;
};

// What the Linux program's keyboard does besides typing. Windows has no terminal to print
// on and types every character itself, so it ignores both.
struct SystemKeyboardOptions {
    // Print each record (and each beep) on standard output, whether typed or not.
    bool printRecords = false;
    // Type the characters that the US layout lacks as Ctrl+Shift+U sequences, which IBus
    // and GTK applications compose; without it they are not typed.
    bool unicodeHexInput = false;
};

// The keyboard of this computer.
std::unique_ptr<Keyboard> createSystemKeyboard(const SystemKeyboardOptions& options = {});

}  // namespace pellvane::keyboard
