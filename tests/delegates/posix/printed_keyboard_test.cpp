// Without a keyboard device, the POSIX build prints what it would inject, one line each.
#include <gtest/gtest.h>

#include <thread>

#include "platform/keyboard.h"

namespace pellvane::testing {
namespace {

TEST(PrintedKeyboard, EachRecordAndBeepIsOneLineOnStandardOutput) {
    auto keyboard = keyboard::createSystemKeyboard();
    ::testing::internal::CaptureStdout();
    keyboard->sendRecord({0, 0x2A, 0x8, 0});
    keyboard->sendRecord({0xAF, 0, 0x3, 0});
    keyboard->sendRecord({0, 0x4E2D, 0x6, 0x1234});
    keyboard->beep(450, 100);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "SendInput wVk=0x0000 wScan=0x002A dwFlags=0x8\n"
              "SendInput wVk=0x00AF wScan=0x0000 dwFlags=0x3\n"
              "SendInput wVk=0x0000 wScan=0x4E2D dwFlags=0x6\n"
              "Beep 450 100\n");
}

TEST(PrintedKeyboard, LinesFromSeveralThreadsStayWhole) {
    auto keyboard = keyboard::createSystemKeyboard();
    ::testing::internal::CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&keyboard] {
            for (int i = 0; i < 50; ++i) {
                keyboard->sendRecord({0, 0x1E, 0x8, 0});
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    const std::string output = ::testing::internal::GetCapturedStdout();
    std::string expected;
    for (int i = 0; i < 200; ++i) {
        expected += "SendInput wVk=0x0000 wScan=0x001E dwFlags=0x8\n";
    }
    EXPECT_EQ(output, expected);
}

TEST(PrintedKeyboard, UsLayoutTypesEveryPrintableCharacterWithAKnownScanCode) {
    auto keyboard = keyboard::createSystemKeyboard();
    const auto layout = keyboard->currentLayout();
    EXPECT_EQ(layout, 0x04090409u);
    for (char16_t c = 0x20; c <= 0x7E; ++c) {
        const std::uint16_t key = keyboard->keyForCharacter(c, layout);
        ASSERT_NE(key, keyboard::noKeyForCharacter) << static_cast<int>(c);
        EXPECT_LE(key >> 8, 1) << static_cast<int>(c);
        EXPECT_NE(keyboard->scanCodeForKey(key & 0xFF, layout), 0u) << static_cast<int>(c);
    }
    EXPECT_EQ(keyboard->keyForCharacter(u'a', layout), 0x41);
    EXPECT_EQ(keyboard->keyForCharacter(u'"', layout), 0x1DE);
    EXPECT_EQ(keyboard->keyForCharacter(u'\n', layout), 0x20D);
    EXPECT_EQ(keyboard->keyForCharacter(0x01, layout), 0x241);  // Ctrl+A
    EXPECT_EQ(keyboard->keyForCharacter(u'\x1b', layout), 0x1B);
    EXPECT_EQ(keyboard->keyForCharacter(u'\u00e9', layout), keyboard::noKeyForCharacter);
    EXPECT_EQ(keyboard->keyForCharacter(0x4E2D, layout), keyboard::noKeyForCharacter);
    EXPECT_EQ(keyboard->scanCodeForKey(0xFFFF, layout), 0u);
    EXPECT_EQ(keyboard->scanCodeForKey(0x6C, layout), 0u);  // no separator key
    EXPECT_EQ(keyboard->scanCodeForKey(0xA4, layout), 0x38u);
    EXPECT_EQ(keyboard->scanCodeForKey(0x87, layout), 0x76u);  // F24
}

}  // namespace
}  // namespace pellvane::testing
