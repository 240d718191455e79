// The Linux keyboard: records typed as key events on a virtual keyboard (a recorder stands
// in for uinput here; tests/vm reads a real one), and printed as SendInput lines.
#include "platform/posix/linux_keyboard.h"

#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>

#include "delegates/key_code_table.h"
#include "delegates/key_injection.h"
#include "server/wire_protocol.h"
#include "tests/delegates/delegate_test_support.h"

namespace pellvane::testing {
namespace {

using input::InputEvent;
using keyboard::KeyRecord;
using Events = std::vector<InputEvent>;

class EventRecorder : public input::InputEventSink {
  public:
    explicit EventRecorder(std::shared_ptr<Events> events) : events_(std::move(events)) {}
    bool emit(std::span<const InputEvent> events) override {
        events_->insert(events_->end(), events.begin(), events.end());
        return true;
    }

  private:
    std::shared_ptr<Events> events_;
};

// The key changes, each of which must be followed by its SYN_REPORT.
Events keyChanges(const Events& events) {
    Events keys;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].type == EV_KEY) {
            const bool synced =
                i + 1 < events.size() && events[i + 1] == InputEvent{EV_SYN, SYN_REPORT, 0};
            EXPECT_TRUE(synced) << "no SYN_REPORT after key " << events[i].code;
            keys.push_back(events[i]);
        }
    }
    return keys;
}

InputEvent down(std::uint16_t key) {
    return {EV_KEY, key, 1};
}
InputEvent up(std::uint16_t key) {
    return {EV_KEY, key, 0};
}

std::string contents(std::FILE* file) {
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    return text;
}

class LinuxKeyboardTest : public ::testing::Test {
  protected:
    void make(const keyboard::SystemKeyboardOptions& options = {}, bool withDevice = true) {
        keyboard_.reset();
        events_->clear();
        keyboard_ = keyboard::createLinuxKeyboard(
            withDevice ? std::make_unique<EventRecorder>(events_) : nullptr, options, records_,
            notices_);
    }

    // The key changes that a KeyDown or KeyUp with these entries makes.
    Events type(std::uint32_t type, const std::vector<wire::KeyEntry>& entries) {
        events_->clear();
        for (const KeyRecord& record :
             keys::buildKeyRecords(entries, type == wire::KeyUp, *keyboard_, 0)) {
            keyboard_->sendRecord(record);
        }
        return keyChanges(*events_);
    }

    Events send(const KeyRecord& record) {
        events_->clear();
        keyboard_->sendRecord(record);
        return keyChanges(*events_);
    }

    void TearDown() override {
        keyboard_.reset();
        std::fclose(records_);
        std::fclose(notices_);
    }

    std::shared_ptr<Events> events_ = std::make_shared<Events>();
    std::FILE* records_ = std::tmpfile();
    std::FILE* notices_ = std::tmpfile();
    std::unique_ptr<keyboard::Keyboard> keyboard_;
};

TEST_F(LinuxKeyboardTest, ScanCodesAreLinuxKeyCodesUpTo0x58AndTheRestComeFromTheTable) {
    make();
    EXPECT_EQ(send({0, 0x01, 0x8, 0}), (Events{down(KEY_ESC)}));
    EXPECT_EQ(send({0, 0x53, 0xA, 0}), (Events{up(KEY_KPDOT)}));
    EXPECT_EQ(send({0, 0x58, 0x8, 0}), (Events{down(KEY_F12)}));
    EXPECT_EQ(send({0, 0x76, 0x8, 0}), (Events{down(KEY_F24)}));
    const std::pair<std::uint16_t, std::uint16_t> extended[] = {
        {0x1C, KEY_KPENTER}, {0x1D, KEY_RIGHTCTRL}, {0x35, KEY_KPSLASH},  {0x38, KEY_RIGHTALT},
        {0x47, KEY_HOME},    {0x48, KEY_UP},        {0x49, KEY_PAGEUP},   {0x4B, KEY_LEFT},
        {0x4D, KEY_RIGHT},   {0x4F, KEY_END},       {0x50, KEY_DOWN},     {0x51, KEY_PAGEDOWN},
        {0x52, KEY_INSERT},  {0x53, KEY_DELETE},    {0x5B, KEY_LEFTMETA}, {0x5C, KEY_RIGHTMETA},
        {0x5D, KEY_COMPOSE}};
    for (const auto& [scan, key] : extended) {
        EXPECT_EQ(send({0, scan, 0x9, 0}), (Events{down(key)})) << std::hex << scan;
        EXPECT_EQ(send({0, scan, 0xB, 0}), (Events{up(key)})) << std::hex << scan;
    }
    // No key: an extended code without one, a break code, a virtual key not sent as one.
    EXPECT_EQ(send({0, 0x2A, 0x9, 0}), Events{});
    EXPECT_EQ(send({0, 0x9E, 0x8, 0}), Events{});
    EXPECT_EQ(send({0x41, 0, 0x0, 0}), Events{});
}

// Every key position and every character that the pad can send must type a key that the
// virtual keyboard announces: the kernel drops the events of any other code unseen.
TEST_F(LinuxKeyboardTest, EveryPadKeyAndCharacterTypesAnAnnouncedKey) {
    make();
    const std::vector<std::uint16_t> announced = keyboard::virtualKeyboardSpec().keys;
    const auto check = [&](const wire::KeyEntry& entry, const std::string& what) {
        const Events pressed = type(wire::KeyDown, {entry});
        ASSERT_FALSE(pressed.empty()) << what;
        for (const InputEvent& event : pressed) {
            EXPECT_TRUE(std::binary_search(announced.begin(), announced.end(), event.code))
                << what << " gives " << event.code;
        }
        type(wire::KeyUp, {entry});
    };
    // Table values that are no key code of Windows' either, so that no scan code exists.
    const std::uint16_t withoutScanCode[] = {0x29, 0x3D, 0x92, 0xFF};
    for (std::uint32_t index = 0; index < keys::keyCodeTable.size(); ++index) {
        const std::uint16_t vk = keys::keyCodeTable[index];
        if (vk != keys::noVirtualKey &&
            std::count(std::begin(withoutScanCode), std::end(withoutScanCode), vk) == 0) {
            check(keyAt(index), "key position " + std::to_string(index));
        }
    }
    for (char16_t c = 0x20; c <= 0x7E; ++c) {
        check(character(c), "character " + std::to_string(c));
    }
}

TEST_F(LinuxKeyboardTest, ShiftedLetterExtendedKeyAndVirtualKeyArriveAsPressAndRelease) {
    make();
    EXPECT_EQ(type(wire::KeyDown, {character(u'A')}), (Events{down(KEY_LEFTSHIFT), down(KEY_A)}));
    EXPECT_EQ(type(wire::KeyUp, {character(u'A')}), (Events{up(KEY_LEFTSHIFT), up(KEY_A)}));
    EXPECT_EQ(type(wire::KeyDown, {keyAt(123)}), (Events{down(KEY_LEFT)}));
    EXPECT_EQ(type(wire::KeyDown, {keyAt(76)}), (Events{down(KEY_KPENTER)}));
    EXPECT_EQ(type(wire::KeyUp, {keyAt(72)}), (Events{up(KEY_VOLUMEUP)}));
    EXPECT_EQ(type(wire::KeyDown, {keyAt(130)}), (Events{down(KEY_PRINT)}));
}

// The kernel takes the key after Alt+SysRq as a command (b reboots at once), and a text
// console restarts on Ctrl+Alt+Delete: a pad must not reach either.
TEST_F(LinuxKeyboardTest, AltSysRqAndCtrlAltDeleteAreNotPassedOn) {
    make();
    type(wire::KeyDown, {keyAt(58)});                        // left Alt
    EXPECT_EQ(type(wire::KeyDown, {keyAt(43)}), Events{});   // Print Screen
    type(wire::KeyDown, {keyAt(59)});                        // left Control
    EXPECT_EQ(type(wire::KeyDown, {keyAt(117)}), Events{});  // Delete
    EXPECT_EQ(type(wire::KeyDown, {keyAt(65)}), Events{});   // keypad "."
    type(wire::KeyUp, {keyAt(58)});
    EXPECT_EQ(type(wire::KeyDown, {keyAt(117)}), (Events{down(KEY_DELETE)}));
    EXPECT_EQ(type(wire::KeyDown, {keyAt(43)}), (Events{down(KEY_SYSRQ)}));
    EXPECT_NE(contents(notices_).find("Alt+SysRq"), std::string::npos);
}

TEST_F(LinuxKeyboardTest, KeysStillDownAreReleasedWhenTheKeyboardEnds) {
    make();
    type(wire::KeyDown, {character(u'A'), keyAt(123)});
    type(wire::KeyUp, {keyAt(123)});
    events_->clear();
    keyboard_.reset();
    EXPECT_EQ(keyChanges(*events_), (Events{up(KEY_A), up(KEY_LEFTSHIFT)}));
}

TEST_F(LinuxKeyboardTest, UnicodeRecordsUseTheUsLayoutOrAreSkippedWithOneNotice) {
    make();
    EXPECT_EQ(send({0, u'?', 0x4, 0}), (Events{down(KEY_LEFTSHIFT), down(KEY_SLASH)}));
    EXPECT_EQ(send({0, u'?', 0x6, 0}), (Events{up(KEY_SLASH), up(KEY_LEFTSHIFT)}));
    // A control character would be a shortcut (0x17: Ctrl+W), not text.
    EXPECT_EQ(send({0, 0x17, 0x4, 0}), Events{});
    EXPECT_EQ(send({0, 0xE9, 0x4, 0}), Events{});
    EXPECT_EQ(send({0, 0x4E2D, 0x4, 0}), Events{});
    const std::string notices = contents(notices_);
    EXPECT_NE(notices.find("--unicode-hex"), std::string::npos);
    EXPECT_EQ(std::count(notices.begin(), notices.end(), '\n'), 1) << notices;
    EXPECT_EQ(contents(records_), "");
}

TEST_F(LinuxKeyboardTest, UnicodeHexInputTypesCtrlShiftUTheCodePointAndSpace) {
    make({.unicodeHexInput = true});
    const Events prefix = {down(KEY_LEFTCTRL), down(KEY_LEFTSHIFT), down(KEY_U),
                           up(KEY_U),          up(KEY_LEFTSHIFT),   up(KEY_LEFTCTRL)};
    const auto sequence = [&](std::initializer_list<std::uint16_t> digits) {
        Events expected = prefix;
        for (const std::uint16_t key : digits) {
            expected.insert(expected.end(), {down(key), up(key)});
        }
        expected.insert(expected.end(), {down(KEY_SPACE), up(KEY_SPACE)});
        return expected;
    };
    EXPECT_EQ(send({0, 0xE9, 0x4, 0}), sequence({KEY_E, KEY_9}));
    EXPECT_EQ(send({0, 0xE9, 0x6, 0}), Events{});
    // U+1F600 arrives as two UTF-16 halves.
    EXPECT_EQ(send({0, 0xD83D, 0x4, 0}), Events{});
    EXPECT_EQ(send({0, 0xDE00, 0x4, 0}), sequence({KEY_1, KEY_F, KEY_6, KEY_0, KEY_0}));
    EXPECT_EQ(send({0, 0xDE00, 0x4, 0}), Events{});  // a second half alone is nothing
}

TEST_F(LinuxKeyboardTest, RecordsArePrintedOnlyWhenAskedForOrWithoutADevice) {
    make();
    keyboard_->sendRecord({0, 0x2A, 0x8, 0});
    keyboard_->beep(450, 1);
    EXPECT_EQ(contents(records_), "");

    for (const bool withDevice : {true, false}) {
        make({.printRecords = withDevice}, withDevice);
        std::rewind(records_);
        keyboard_->sendRecord({0, 0x2A, 0x8, 0});
        keyboard_->sendRecord({0xAF, 0, 0x3, 0});
        keyboard_->sendRecord({0, 0x4E2D, 0x6, 0x1234});
        keyboard_->beep(450, 1);
        EXPECT_EQ(contents(records_),
                  "SendInput wVk=0x0000 wScan=0x002A dwFlags=0x8\n"
                  "SendInput wVk=0x00AF wScan=0x0000 dwFlags=0x3\n"
                  "SendInput wVk=0x0000 wScan=0x4E2D dwFlags=0x6\n"
                  "Beep 450 1\n");
    }
}

TEST_F(LinuxKeyboardTest, LinesFromSeveralThreadsStayWhole) {
    make({}, false);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this] {
            for (int i = 0; i < 50; ++i) {
                keyboard_->sendRecord({0, 0x1E, 0x8, 0});
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        expected += "SendInput wVk=0x0000 wScan=0x001E dwFlags=0x8\n";
    }
    EXPECT_EQ(contents(records_), expected);
}

TEST_F(LinuxKeyboardTest, UsLayoutTypesEveryPrintableCharacterWithAKnownScanCode) {
    make();
    const auto layout = keyboard_->currentLayout();
    EXPECT_EQ(layout, 0x04090409u);
    for (char16_t c = 0x20; c <= 0x7E; ++c) {
        const std::uint16_t key = keyboard_->keyForCharacter(c, layout);
        ASSERT_NE(key, keyboard::noKeyForCharacter) << static_cast<int>(c);
        EXPECT_LE(key >> 8, 1) << static_cast<int>(c);
        EXPECT_NE(keyboard_->scanCodeForKey(key & 0xFF, layout), 0u) << static_cast<int>(c);
    }
    EXPECT_EQ(keyboard_->keyForCharacter(u'a', layout), 0x41);
    EXPECT_EQ(keyboard_->keyForCharacter(u'"', layout), 0x1DE);
    EXPECT_EQ(keyboard_->keyForCharacter(u'\n', layout), 0x20D);
    EXPECT_EQ(keyboard_->keyForCharacter(0x01, layout), 0x241);  // Ctrl+A
    EXPECT_EQ(keyboard_->keyForCharacter(u'\x1b', layout), 0x1B);
    EXPECT_EQ(keyboard_->keyForCharacter(u'\u00e9', layout), keyboard::noKeyForCharacter);
    EXPECT_EQ(keyboard_->keyForCharacter(0x4E2D, layout), keyboard::noKeyForCharacter);
    EXPECT_EQ(keyboard_->scanCodeForKey(0xFFFF, layout), 0u);
    EXPECT_EQ(keyboard_->scanCodeForKey(0x6C, layout), 0u);  // no separator key
    EXPECT_EQ(keyboard_->scanCodeForKey(0xA4, layout), 0x38u);
    EXPECT_EQ(keyboard_->scanCodeForKey(0x87, layout), 0x76u);  // F24
}

}  // namespace
}  // namespace pellvane::testing
