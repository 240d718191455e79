#include "platform/posix/linux_key_codes.h"

#include <linux/input-event-codes.h>

#include <algorithm>

namespace pellvane::keyboard {
namespace {

struct CodePair {
    std::uint8_t from;
    std::uint16_t key;
};

// The kernel numbered its key codes after the set-1 scan codes of the PC keyboard, so the
// codes of the main block, the keypad and F1-F12 are the scan codes themselves.
constexpr std::uint8_t sameCodeFirst = 0x01, sameCodeLast = 0x53;    // Escape .. keypad "."
constexpr std::uint8_t sameCodeFirst2 = 0x56, sameCodeLast2 = 0x58;  // 102nd key, F11, F12

constexpr CodePair plainScanCodes[] = {
    {0x54, KEY_SYSRQ},  // Alt+Print Screen
    {0x64, KEY_F13},   {0x65, KEY_F14}, {0x66, KEY_F15}, {0x67, KEY_F16},
    {0x68, KEY_F17},   {0x69, KEY_F18}, {0x6A, KEY_F19}, {0x6B, KEY_F20},
    {0x6C, KEY_F21},   {0x6D, KEY_F22}, {0x6E, KEY_F23}, {0x76, KEY_F24},
};

// Codes after an E0 prefix. Ctrl+Break (E0 46) is Pause with Control held on Linux, and
// Clear gets KEY_CLEAR although X11 applications do not see codes above 247. Power, Sleep
// and Wake (E0 5E, 5F, 63) are left out: no pad key names them, and a keyboard that has
// them is one that the system watches to switch the computer off.
constexpr CodePair extendedScanCodes[] = {
    {0x10, KEY_PREVIOUSSONG}, {0x19, KEY_NEXTSONG}, {0x1C, KEY_KPENTER},   {0x1D, KEY_RIGHTCTRL},
    {0x20, KEY_MUTE},         {0x21, KEY_CALC},     {0x22, KEY_PLAYPAUSE}, {0x24, KEY_STOPCD},
    {0x2E, KEY_VOLUMEDOWN},   {0x30, KEY_VOLUMEUP}, {0x32, KEY_HOMEPAGE},  {0x35, KEY_KPSLASH},
    {0x37, KEY_SYSRQ},        {0x38, KEY_RIGHTALT}, {0x46, KEY_PAUSE},     {0x47, KEY_HOME},
    {0x48, KEY_UP},           {0x49, KEY_PAGEUP},   {0x4B, KEY_LEFT},      {0x4C, KEY_CLEAR},
    {0x4D, KEY_RIGHT},        {0x4F, KEY_END},      {0x50, KEY_DOWN},      {0x51, KEY_PAGEDOWN},
    {0x52, KEY_INSERT},       {0x53, KEY_DELETE},   {0x5B, KEY_LEFTMETA},  {0x5C, KEY_RIGHTMETA},
    {0x5D, KEY_COMPOSE},      {0x65, KEY_SEARCH},   {0x66, KEY_BOOKMARKS}, {0x67, KEY_REFRESH},
    {0x68, KEY_STOP},         {0x69, KEY_FORWARD},  {0x6A, KEY_BACK},      {0x6B, KEY_COMPUTER},
    {0x6C, KEY_MAIL},         {0x6D, KEY_MEDIA},
};

// Pause, Print, Print Screen and the volume keys.
constexpr CodePair virtualKeys[] = {
    {0x13, KEY_PAUSE}, {0x2A, KEY_PRINT},      {0x2C, KEY_SYSRQ},
    {0xAD, KEY_MUTE},  {0xAE, KEY_VOLUMEDOWN}, {0xAF, KEY_VOLUMEUP},
};

template <std::size_t N>
std::uint16_t lookUp(const CodePair (&table)[N], std::uint32_t from) {
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [from](const CodePair& pair) { return pair.from == from; });
    return found == std::end(table) ? KEY_RESERVED : found->key;
}

template <std::size_t N>
void appendKeys(std::vector<std::uint16_t>& keys, const CodePair (&table)[N]) {
    for (const CodePair& pair : table) {
        keys.push_back(pair.key);
    }
}

}  // namespace

std::uint16_t linuxKeyForScanCode(std::uint32_t scanCode, bool extended) {
    if (extended) {
        return lookUp(extendedScanCodes, scanCode);
    }
    if ((scanCode >= sameCodeFirst && scanCode <= sameCodeLast) ||
        (scanCode >= sameCodeFirst2 && scanCode <= sameCodeLast2)) {
        return static_cast<std::uint16_t>(scanCode);
    }
    return lookUp(plainScanCodes, scanCode);
}

std::uint16_t linuxKeyForVirtualKey(std::uint32_t virtualKey) {
    return lookUp(virtualKeys, virtualKey);
}

std::vector<std::uint16_t> linuxKeysInUse() {
    std::vector<std::uint16_t> keys;
    for (std::uint16_t code = sameCodeFirst; code <= sameCodeLast; ++code) {
        keys.push_back(code);
    }
    for (std::uint16_t code = sameCodeFirst2; code <= sameCodeLast2; ++code) {
        keys.push_back(code);
    }
    appendKeys(keys, plainScanCodes);
    appendKeys(keys, extendedScanCodes);
    appendKeys(keys, virtualKeys);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    return keys;
}

}  // namespace pellvane::keyboard
