#include "delegates/key_injection.h"

#include <gtest/gtest.h>

#include <condition_variable>

#include "delegates/held_keys.h"
#include "delegates/key_code_table.h"
#include "delegates/key_injector_thread.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/fakes/fake_keyboard.h"
#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

using keyboard::KeyRecord;
using Kind = FakeKeyboard::Event::Kind;

constexpr std::uint16_t shiftScan = 0x2A;
constexpr std::uint16_t controlScan = 0x1D;
constexpr std::uint16_t altScan = 0x38;

KeyRecord scanRecord(std::uint16_t scan, std::uint32_t flags) {
    return {0, scan, flags, 0};
}
KeyRecord vkRecord(std::uint16_t vk, std::uint32_t flags) {
    return {vk, 0, flags, 0};
}

class KeyInjection : public ::testing::Test {
  protected:
    KeyInjection() {
        keyboard.setScanCode(0xA0, shiftScan);
        keyboard.setScanCode(0xA2, controlScan);
        keyboard.setScanCode(0xA4, altScan);
        keyboard.setScanCode(0x41, 0x1E);  // A
        keyboard.setScanCode(0x42, 0x30);  // B
        keyboard.setScanCode(0x51, 0x10);  // Q
        keyboard.setScanCode(0x0D, 0x1C);  // Return
        keyboard.setScanCode(0xBE, 0x34);  // period
        keyboard.setScanCode(0x6F, 0x35);  // keypad divide
        keyboard.setScanCode(0x6C, 0x7E);  // separator: only reachable as a character
        keyboard.setScanCode(0x2C, 0x54);  // Print Screen
        keyboard.setScanCode(0x2A, 0x99);  // Print: must never be looked up by position
        keyboard.setScanCode(0xAF, 0x30);  // volume up: never looked up by position
        keyboard.setCharacter(u'a', 0x41);
        keyboard.setCharacter(u'A', 0x41, 0x01);
        keyboard.setCharacter(u'B', 0x42, 0x01);
        keyboard.setCharacter(u'.', 0xBE, 0x01);  // a layout where "." needs Shift
        keyboard.setCharacter(u'@', 0x51, 0x06);  // AltGr-style: Ctrl and Alt
        keyboard.setCharacter(u'~', 0x51, 0x07);
        keyboard.setCharacter(u'^', 0x51, 0xF9);  // bits above Alt name no modifier
        keyboard.setCharacter(u'/', 0x6F);
        keyboard.setCharacter(u'|', 0x6C);
        keyboard.setCharacter(u'#', 0x2C);
        keyboard.setExtraInfo(0xFEEDF00D);
    }

    std::vector<KeyRecord> inject(std::uint32_t type, const std::vector<wire::KeyEntry>& entries) {
        keyboard.clearEvents();
        keys::injectKeys(&server, keyMessage(type, entries), keyboard);
        return keyboard.records();
    }

    FakeKeyboard keyboard;
    ZarvoServer server{"Pellvane Test", "_kesp._tcp", ""};
};

TEST_F(KeyInjection, ShiftedLetterPressesShiftFirstAndReleasesItFirst) {
    EXPECT_EQ(inject(wire::KeyDown, {character(u'A')}),
              (std::vector<KeyRecord>{scanRecord(shiftScan, 0x8), scanRecord(0x1E, 0x8)}));
    const auto events = keyboard.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1].kind, Kind::pause);
    EXPECT_EQ(events[1].milliseconds, 21u);

    EXPECT_EQ(inject(wire::KeyUp, {character(u'A')}),
              (std::vector<KeyRecord>{scanRecord(shiftScan, 0xA), scanRecord(0x1E, 0xA)}));
    EXPECT_EQ(keyboard.pauseCount(), 1);
    EXPECT_EQ(keyboard.foreignLayoutLookups(), 0);
}

TEST_F(KeyInjection, ModifiersFollowTheShiftStateInShiftControlAltOrder) {
    EXPECT_EQ(inject(wire::KeyDown, {character(u'@')}),
              (std::vector<KeyRecord>{scanRecord(controlScan, 0x8), scanRecord(altScan, 0x8),
                                      scanRecord(0x10, 0x8)}));
    EXPECT_EQ(keyboard.pauseCount(), 2);
    EXPECT_EQ(inject(wire::KeyUp, {character(u'~')}),
              (std::vector<KeyRecord>{scanRecord(shiftScan, 0xA), scanRecord(controlScan, 0xA),
                                      scanRecord(altScan, 0xA), scanRecord(0x10, 0xA)}));
    EXPECT_EQ(inject(wire::KeyDown, {character(u'^')}),
              (std::vector<KeyRecord>{scanRecord(shiftScan, 0x8), scanRecord(0x10, 0x8)}));
}

TEST_F(KeyInjection, PeriodGoesWithoutModifiersButOnlyWhenAllBitsSayPeriod) {
    EXPECT_EQ(inject(wire::KeyDown, {character(0x2E)}),
              (std::vector<KeyRecord>{scanRecord(0x34, 0x8)}));
    // The same code unit with high bits set is not "." and takes the layout's Shift.
    EXPECT_EQ(inject(wire::KeyDown, {character(0x0001002E)}),
              (std::vector<KeyRecord>{scanRecord(shiftScan, 0x8), scanRecord(0x34, 0x8)}));
}

TEST_F(KeyInjection, CharacterWithoutKeyBecomesOneUnicodeRecord) {
    const KeyRecord down{0, 0x4E2D, 0x4, 0xFEEDF00D};
    const KeyRecord up{0, 0x4E2D, 0x6, 0xFEEDF00D};
    EXPECT_EQ(inject(wire::KeyDown, {character(0x4E2D)}), std::vector<KeyRecord>{down});
    EXPECT_EQ(inject(wire::KeyUp, {character(0x4E2D)}), std::vector<KeyRecord>{up});
    // Only the low 16 bits are a code unit.
    EXPECT_EQ(inject(wire::KeyDown, {character(0x77774E2D)}), std::vector<KeyRecord>{down});
}

TEST_F(KeyInjection, CharacterPathUsesExtendedSetButNotTheVirtualKeyRules) {
    EXPECT_EQ(inject(wire::KeyDown, {character(u'/')}),
              (std::vector<KeyRecord>{scanRecord(0x35, 0x9)}));
    // VK_SEPARATOR is looked up as itself here, and VK_SNAPSHOT goes as a scan code.
    EXPECT_EQ(inject(wire::KeyDown, {character(u'|')}),
              (std::vector<KeyRecord>{scanRecord(0x7E, 0x9)}));
    EXPECT_EQ(inject(wire::KeyUp, {character(u'#')}),
              (std::vector<KeyRecord>{scanRecord(0x54, 0xB)}));
}

TEST_F(KeyInjection, KeyPositionsGiveScanCodesOrVirtualKeysAsTheirSetsSay) {
    // 76, keypad Enter: Return's scan code, extended.
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(76)}), (std::vector<KeyRecord>{scanRecord(0x1C, 0x9)}));
    EXPECT_EQ(inject(wire::KeyUp, {keyAt(76)}), (std::vector<KeyRecord>{scanRecord(0x1C, 0xB)}));
    // 72, volume up: a virtual key, extended, without the scan-code flag.
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(72)}), (std::vector<KeyRecord>{vkRecord(0xAF, 0x1)}));
    EXPECT_EQ(inject(wire::KeyUp, {keyAt(72)}), (std::vector<KeyRecord>{vkRecord(0xAF, 0x3)}));
    // 130, VK_PRINT: a virtual key, not extended.
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(130)}), (std::vector<KeyRecord>{vkRecord(0x2A, 0x0)}));
    EXPECT_EQ(inject(wire::KeyUp, {keyAt(130)}), (std::vector<KeyRecord>{vkRecord(0x2A, 0x2)}));
    // 43 holds the Print Screen code: a virtual key with the extended flag.
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(43)}), (std::vector<KeyRecord>{vkRecord(0x2C, 0x1)}));
    // 0: A, a plain scan code.
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(0)}), (std::vector<KeyRecord>{scanRecord(0x1E, 0x8)}));
}

TEST_F(KeyInjection, EmptyTablePositionLooksUpTheMarkerLikeAnyKey) {
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(10)}), (std::vector<KeyRecord>{scanRecord(0, 0x8)}));
    keyboard.setScanCode(0xFFFF, 0x77);
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(10)}), (std::vector<KeyRecord>{scanRecord(0x77, 0x8)}));
}

TEST_F(KeyInjection, KeyPositionWinsOverCharacterAndEmptyOrOutsideEntriesYieldNothing) {
    EXPECT_EQ(inject(wire::KeyDown, {{0, u'A', 0}}),
              (std::vector<KeyRecord>{scanRecord(0x1E, 0x8)}));
    const std::vector<wire::KeyEntry> entries = {keyAt(0),
                                                 {0, wire::noCharacter, wire::noKeyIndex},
                                                 keyAt(263),
                                                 keyAt(0xFFFFFFFE),
                                                 character(u'a')};
    EXPECT_EQ(inject(wire::KeyDown, entries),
              (std::vector<KeyRecord>{scanRecord(0x1E, 0x8), scanRecord(0x1E, 0x8)}));
    EXPECT_EQ(keyboard.pauseCount(), 1);
}

TEST_F(KeyInjection, ThreeShiftedEntriesAlternateShiftAndKeyWithFivePauses) {
    inject(wire::KeyDown, {character(u'A'), character(u'B'), character(u'A')});
    const auto events = keyboard.events();
    ASSERT_EQ(events.size(), 11u);
    const std::uint16_t expectedScans[] = {shiftScan, 0x1E, shiftScan, 0x30, shiftScan, 0x1E};
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (i % 2 == 1) {
            EXPECT_EQ(events[i].kind, Kind::pause) << i;
            EXPECT_EQ(events[i].milliseconds, 21u);
        } else {
            EXPECT_EQ(events[i].kind, Kind::record) << i;
            EXPECT_EQ(events[i].record, scanRecord(expectedScans[i / 2], 0x8)) << i;
        }
    }
}

TEST_F(KeyInjection, NoEntriesSendNothingAndDoNotPause) {
    EXPECT_TRUE(inject(wire::KeyDown, {}).empty());
    EXPECT_TRUE(keyboard.events().empty());
}

TEST_F(KeyInjection, CountClaimingMoreEntriesThanPresentUsesOnlyThosePresent) {
    ReceivedMessage message = keyMessage(wire::KeyDown, {character(u'a'), keyAt(0)}, 0xFFFFFFFF);
    message.bytes.pop_back();  // the second entry is cut short
    keys::injectKeys(&server, message, keyboard);
    EXPECT_EQ(keyboard.records(), (std::vector<KeyRecord>{scanRecord(0x1E, 0x8)}));
}

TEST_F(KeyInjection, BlockedKeyDownBeepsOnceAndKeyUpIsSilent) {
    blockKeys(server);
    inject(wire::KeyDown, {character(u'A'), keyAt(0), keyAt(76)});
    const auto events = keyboard.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].kind, Kind::beep);
    EXPECT_EQ(events[0].frequency, 450u);
    EXPECT_EQ(events[0].milliseconds, 100u);

    inject(wire::KeyUp, {character(u'A'), keyAt(0)});
    EXPECT_TRUE(keyboard.events().empty());

    const wire::AppNameRecord generic = named("<generic>");
    server.keyFilter().applyWantedApp(&generic);
    EXPECT_EQ(inject(wire::KeyDown, {keyAt(0)}).size(), 1u);
}

TEST_F(KeyInjection, OtherMessageTypesInjectNothing) {
    keys::injectKeys(&server, keyMessage(wire::GamepadEvent, {keyAt(0)}), keyboard);
    EXPECT_TRUE(keyboard.events().empty());
    keys::injectKeys(nullptr, keyMessage(wire::KeyDown, {keyAt(0)}), keyboard);
    EXPECT_EQ(keyboard.records().size(), 1u);
}

constexpr net::HostAddress hostA{net::Family::ipv4, {10, 0, 0, 1}};
constexpr net::HostAddress hostB{net::Family::ipv4, {10, 0, 0, 2}};
constexpr KeyRecord aDown{0, 0x1E, 0x8, 0};
constexpr KeyRecord aUp{0, 0x1E, 0xA, 0};
constexpr KeyRecord sDown{0, 0x1F, 0x8, 0};
constexpr KeyRecord sUp{0, 0x1F, 0xA, 0};

TEST(HeldKeys, AKeyThatAnotherHostHoldsStaysDownWhenOneHostLetsGo) {
    const KeyRecord shiftDown = scanRecord(shiftScan, 0x8);
    keys::HeldKeys held;
    held.noteSent(hostA, shiftDown);
    held.noteSent(hostA, aDown);
    held.noteSent(hostB, shiftDown);
    EXPECT_EQ(held.releaseHost(hostA), std::vector<KeyRecord>{aUp});
    EXPECT_EQ(held.releaseHost(hostB), std::vector<KeyRecord>{scanRecord(shiftScan, 0xA)});
    EXPECT_TRUE(held.empty());
}

// A keyboard whose records wait until the test opens its gate: whatever the test queues
// meanwhile waits while the typing thread is busy.
class GatedKeyboard final : public FakeKeyboard {
  public:
    void sendRecord(const KeyRecord& record) override {
        {
            std::unique_lock guard(gateMutex_);
            typing_ = true;
            gateChanged_.notify_all();
            gateChanged_.wait(guard, [this] { return open_; });
        }
        FakeKeyboard::sendRecord(record);
    }
    void waitUntilTyping() {
        std::unique_lock guard(gateMutex_);
        gateChanged_.wait(guard, [this] { return typing_; });
    }
    void open() {
        std::lock_guard guard(gateMutex_);
        open_ = true;
        gateChanged_.notify_all();
    }

  private:
    std::mutex gateMutex_;  // guards typing_ and open_
    std::condition_variable gateChanged_;
    bool typing_ = false;  // a record waits at the gate
    bool open_ = false;
};

class KeyInjectorThreadTest : public ::testing::Test {
  protected:
    KeyInjectorThreadTest() {
        keyboard.setScanCode(0x41, 0x1E);  // A, key position 0
        keyboard.setScanCode(0x53, 0x1F);  // S, key position 1
    }
    ~KeyInjectorThreadTest() override { keyboard.open(); }

    bool enqueue(std::uint32_t type, std::uint32_t keyIndex, const net::HostAddress& host) {
        return injector.enqueue(nullptr, keyMessage(type, {keyAt(keyIndex)}), host);
    }

    GatedKeyboard keyboard;
    keys::KeyInjectorThread injector{keyboard};
};

TEST_F(KeyInjectorThreadTest, AnotherPadsBacklogHoldsUpAKeyByOneMessageAtMost) {
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(
            injector.enqueue(nullptr, keyMessage(wire::KeyDown, {keyAt(0), keyAt(0)}), hostA));
    }
    ASSERT_TRUE(enqueue(wire::KeyDown, 1, hostB));
    keyboard.open();
    injector.waitUntilIdle();
    EXPECT_EQ(keyboard.records(),
              (std::vector<KeyRecord>{aDown, aDown, sDown, aDown, aDown, aDown, aDown}));
}

// A full queue refuses its own host's presses; another pad still types, and a release that
// finds no room lets go of the host's keys after the messages before it.
TEST_F(KeyInjectorThreadTest, AFullQueueRefusesOnlyItsOwnHostAndLeavesNoKeyDown) {
    DebugCapture capture;
    ASSERT_TRUE(enqueue(wire::KeyDown, 0, hostA));
    keyboard.waitUntilTyping();  // taken from the queue: the next ones fill it
    for (std::size_t i = 0; i < keys::KeyInjectorThread::queueLimit; ++i) {
        ASSERT_TRUE(enqueue(wire::KeyDown, 0, hostA)) << i;
    }
    EXPECT_FALSE(enqueue(wire::KeyDown, 0, hostA));
    EXPECT_FALSE(enqueue(wire::KeyUp, 0, hostA));
    EXPECT_EQ(capture.count("Key message dropped: too many waiting to be typed\n"), 2);
    EXPECT_TRUE(enqueue(wire::KeyDown, 1, hostB));
    EXPECT_TRUE(enqueue(wire::KeyUp, 1, hostB));
    keyboard.open();
    injector.waitUntilIdle();
    const std::vector<KeyRecord> typed = keyboard.records();
    ASSERT_EQ(typed.size(), keys::KeyInjectorThread::queueLimit + 4);
    EXPECT_EQ(typed[1], sDown);
    EXPECT_EQ(typed[3], sUp);
    EXPECT_EQ(typed.back(), aUp);
}

TEST(KeyCodeTable, HoldsTheClientsValuesIncludingTheOddOnes) {
    using keys::keyCodeTable;
    ASSERT_EQ(keyCodeTable.size(), 263u);
    const std::pair<std::size_t, std::uint16_t> expected[] = {
        {0, 0x41},   {1, 0x53},   {10, 0xFFFF}, {24, 0x3D},  {30, 0x29},    {33, 0x28},
        {36, 0x0D},  {39, 0xDE},  {42, 0xDE},   {43, 0x2C},  {52, 0xFFFF},  {53, 0x1B},
        {54, 0x36},  {55, 0xA2},  {59, 0xA2},   {63, 0xFF},  {64, 0x80},    {71, 0x0C},
        {72, 0xAF},  {76, 0x6C},  {81, 0x92},   {95, 0xBC},  {104, 0xFFFF}, {106, 0x7F},
        {113, 0x7E}, {123, 0x25}, {126, 0x26},  {127, 0x5B}, {128, 0x5C},   {129, 0x2C},
        {130, 0x2A}, {131, 0x13}, {132, 0x03},  {133, 0x90}, {134, 0x91},
    };
    for (const auto& [index, value] : expected) {
        EXPECT_EQ(keyCodeTable[index], value) << "index " << index;
    }
    for (std::size_t index = 135; index < keyCodeTable.size(); ++index) {
        EXPECT_EQ(keyCodeTable[index], 0xFFFF) << "index " << index;
    }
    EXPECT_FALSE(keys::virtualKeyAt(263).has_value());
    EXPECT_EQ(keys::virtualKeyAt(262), 0xFFFF);
}

TEST(KeyCodeTable, ExtendedAndVirtualKeySetsHoldExactlyTheirCodes) {
    const std::uint32_t extended[] = {3,  12, 19, 33, 34,  35,  36,  37,  38,  39,  40, 44,
                                      45, 46, 91, 92, 108, 111, 163, 165, 173, 174, 175};
    const std::uint32_t sentAsVirtualKey[] = {19, 42, 44, 173, 174, 175};
    int extendedCount = 0;
    int virtualCount = 0;
    for (std::uint32_t vk = 0; vk <= 0x10000; ++vk) {
        extendedCount += keys::isExtendedKey(vk) ? 1 : 0;
        virtualCount += keys::isSentAsVirtualKey(vk) ? 1 : 0;
    }
    EXPECT_EQ(extendedCount, 23);
    EXPECT_EQ(virtualCount, 6);
    for (std::uint32_t vk : extended) {
        EXPECT_TRUE(keys::isExtendedKey(vk)) << vk;
    }
    for (std::uint32_t vk : sentAsVirtualKey) {
        EXPECT_TRUE(keys::isSentAsVirtualKey(vk)) << vk;
    }
    EXPECT_FALSE(keys::isExtendedKey(144));  // Num Lock
    EXPECT_FALSE(keys::isExtendedKey(161));  // right Shift
}

}  // namespace
}  // namespace pellvane::testing
