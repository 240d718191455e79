// Without a keyboard device to write to, each record is printed as the SendInput call that
// Windows would receive, and the lookups answer as the Windows US layout (kbdus) does.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/keyboard.h"

namespace pellvane::keyboard {
namespace {

constexpr LayoutHandle usLayout = 0x04090409;
constexpr std::uint16_t shift = 0x100;
constexpr std::uint16_t control = 0x200;

// Virtual key and shift state that types each printable ASCII character (0x20-0x7E) on
// the US layout; the keypad is never the answer, as on Windows.
constexpr std::uint16_t printableKeys[95] = {
    0x020,        shift | 0x31, shift | 0xDE, shift | 0x33, shift | 0x34,  // ' ' ! " # $
    shift | 0x35, shift | 0x37, 0x0DE,        shift | 0x39, shift | 0x30,  // % & ' ( )
    shift | 0x38, shift | 0xBB, 0x0BC,        0x0BD,        0x0BE,         // * + , - .
    0x0BF,        0x030,        0x031,        0x032,        0x033,         // / 0 1 2 3
    0x034,        0x035,        0x036,        0x037,        0x038,         // 4 5 6 7 8
    0x039,        shift | 0xBA, 0x0BA,        shift | 0xBC, 0x0BB,         // 9 : ; < =
    shift | 0xBE, shift | 0xBF, shift | 0x32, shift | 0x41, shift | 0x42,  // > ? @ A B
    shift | 0x43, shift | 0x44, shift | 0x45, shift | 0x46, shift | 0x47,  // C D E F G
    shift | 0x48, shift | 0x49, shift | 0x4A, shift | 0x4B, shift | 0x4C,  // H I J K L
    shift | 0x4D, shift | 0x4E, shift | 0x4F, shift | 0x50, shift | 0x51,  // M N O P Q
    shift | 0x52, shift | 0x53, shift | 0x54, shift | 0x55, shift | 0x56,  // R S T U V
    shift | 0x57, shift | 0x58, shift | 0x59, shift | 0x5A, 0x0DB,         // W X Y Z [
    0x0DC,        0x0DD,        shift | 0x36, shift | 0xBD, 0x0C0,         // \ ] ^ _ `
    0x041,        0x042,        0x043,        0x044,        0x045,         // a b c d e
    0x046,        0x047,        0x048,        0x049,        0x04A,         // f g h i j
    0x04B,        0x04C,        0x04D,        0x04E,        0x04F,         // k l m n o
    0x050,        0x051,        0x052,        0x053,        0x054,         // p q r s t
    0x055,        0x056,        0x057,        0x058,        0x059,         // u v w x y
    0x05A,        shift | 0xDB, shift | 0xDC, shift | 0xDD, shift | 0xC0,  // z { | } ~
};

std::uint16_t controlCharacterKey(char16_t character) {
    switch (character) {
        case 0x03:
            return 0x03;  // Ctrl+Break
        case 0x08:
            return 0x08;  // Backspace
        case 0x09:
            return 0x09;  // Tab
        case 0x0A:
            return control | 0x0D;  // Ctrl+Enter
        case 0x0D:
            return 0x0D;  // Enter
        case 0x1B:
            return 0x1B;  // Escape
        case 0x1C:
            return control | 0xDC;
        case 0x1D:
            return control | 0xDD;
        case 0x1E:
            return control | shift | 0x36;
        case 0x1F:
            return control | shift | 0xBD;
        case 0x7F:
            return control | 0x08;
        default:
            break;
    }
    if (character >= 0x01 && character <= 0x1A) {
        return static_cast<std::uint16_t>(control | (0x40 + character));  // Ctrl+letter
    }
    return noKeyForCharacter;
}

std::uint16_t usKeyForCharacter(char16_t character) {
    if (character >= 0x20 && character <= 0x7E) {
        return printableKeys[character - 0x20];
    }
    return controlCharacterKey(character);
}

// Set-1 scan codes of the letters A-Z and of the OEM keys, as kbdus names them.
constexpr std::uint8_t letterScanCodes[26] = {
    0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
    0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C,
};
constexpr std::uint8_t digitScanCodes[10] = {0x0B, 0x02, 0x03, 0x04, 0x05,
                                             0x06, 0x07, 0x08, 0x09, 0x0A};
constexpr std::uint8_t numpadScanCodes[10] = {0x52, 0x4F, 0x50, 0x51, 0x4B,
                                              0x4C, 0x4D, 0x47, 0x48, 0x49};
constexpr std::uint8_t functionScanCodes[24] = {
    0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x57, 0x58,
    0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x76,
};

struct KeyScan {
    std::uint8_t virtualKey;
    std::uint8_t scanCode;
};

// Every other key that has a scan code; extended keys give it without the E0 prefix.
constexpr KeyScan otherScanCodes[] = {
    {0x03, 0x46}, {0x08, 0x0E}, {0x09, 0x0F}, {0x0C, 0x4C}, {0x0D, 0x1C}, {0x10, 0x2A},
    {0x11, 0x1D}, {0x12, 0x38}, {0x13, 0x45}, {0x14, 0x3A}, {0x1B, 0x01}, {0x20, 0x39},
    {0x21, 0x49}, {0x22, 0x51}, {0x23, 0x4F}, {0x24, 0x47}, {0x25, 0x4B}, {0x26, 0x48},
    {0x27, 0x4D}, {0x28, 0x50}, {0x2C, 0x54}, {0x2D, 0x52}, {0x2E, 0x53}, {0x5B, 0x5B},
    {0x5C, 0x5C}, {0x5D, 0x5D}, {0x5F, 0x5F}, {0x6A, 0x37}, {0x6B, 0x4E}, {0x6D, 0x4A},
    {0x6E, 0x53}, {0x6F, 0x35}, {0x90, 0x45}, {0x91, 0x46}, {0xA0, 0x2A}, {0xA1, 0x36},
    {0xA2, 0x1D}, {0xA3, 0x1D}, {0xA4, 0x38}, {0xA5, 0x38}, {0xA6, 0x6A}, {0xA7, 0x69},
    {0xA8, 0x67}, {0xA9, 0x68}, {0xAA, 0x65}, {0xAB, 0x66}, {0xAC, 0x32}, {0xAD, 0x20},
    {0xAE, 0x2E}, {0xAF, 0x30}, {0xB0, 0x19}, {0xB1, 0x10}, {0xB2, 0x24}, {0xB3, 0x22},
    {0xB4, 0x6C}, {0xB5, 0x6D}, {0xB6, 0x6B}, {0xB7, 0x21}, {0xBA, 0x27}, {0xBB, 0x0D},
    {0xBC, 0x33}, {0xBD, 0x0C}, {0xBE, 0x34}, {0xBF, 0x35}, {0xC0, 0x29}, {0xDB, 0x1A},
    {0xDC, 0x2B}, {0xDD, 0x1B}, {0xDE, 0x28}, {0xE2, 0x56},
};

std::uint32_t usScanCodeForKey(std::uint32_t virtualKey) {
    if (virtualKey >= 'A' && virtualKey <= 'Z') {
        return letterScanCodes[virtualKey - 'A'];
    }
    if (virtualKey >= '0' && virtualKey <= '9') {
        return digitScanCodes[virtualKey - '0'];
    }
    if (virtualKey >= 0x60 && virtualKey <= 0x69) {
        return numpadScanCodes[virtualKey - 0x60];
    }
    if (virtualKey >= 0x70 && virtualKey <= 0x87) {
        return functionScanCodes[virtualKey - 0x70];
    }
    for (const KeyScan& entry : otherScanCodes) {
        if (entry.virtualKey == virtualKey) {
            return entry.scanCode;
        }
    }
    return 0;
}

class PrintedKeyboard final : public Keyboard {
  public:
    LayoutHandle currentLayout() override { return usLayout; }

    std::uint16_t keyForCharacter(char16_t character, LayoutHandle) override {
        return usKeyForCharacter(character);
    }

    std::uint32_t scanCodeForKey(std::uint32_t virtualKey, LayoutHandle) override {
        return usScanCodeForKey(virtualKey);
    }

    std::uintptr_t messageExtraInfo() override { return 0; }

    void sendRecord(const KeyRecord& record) override {
        std::lock_guard guard(outputLock_);
        std::fprintf(stdout, "SendInput wVk=0x%04X wScan=0x%04X dwFlags=0x%X\n",
                     static_cast<unsigned>(record.wVk), static_cast<unsigned>(record.wScan),
                     static_cast<unsigned>(record.dwFlags));
        std::fflush(stdout);
    }

    void pause(std::uint32_t milliseconds) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }

    void beep(std::uint32_t frequency, std::uint32_t milliseconds) override {
        {
            std::lock_guard guard(outputLock_);
            std::fprintf(stdout, "Beep %u %u\n", static_cast<unsigned>(frequency),
                         static_cast<unsigned>(milliseconds));
            std::fflush(stdout);
        }
        // The tone lasts as long as on Windows, so the loop is held up as long.
        pause(milliseconds);
    }

  private:
    // Keeps the lines of different keyboards (and threads) whole on standard output.
    static std::mutex outputLock_;
};

std::mutex PrintedKeyboard::outputLock_;

}  // namespace

std::unique_ptr<Keyboard> createSystemKeyboard() {
    return std::make_unique<PrintedKeyboard>();
}

}  // namespace pellvane::keyboard
