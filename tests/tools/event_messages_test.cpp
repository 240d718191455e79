#include "tools/event_messages.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tools/utf8_text.h"

namespace pellvane::tool {
namespace {

TEST(EventMessages, KeyMessageCountsEntriesNotBytes) {
    const KeyEntry entries[] = {{u'A', noKey}, {noKey, 76}};
    const Message message = buildKeyMessage(wire::KeyUp, entries);
    ASSERT_EQ(message.size(), 12u + 24u);
    EXPECT_EQ(wire::readU32(message, 0), 36u);
    EXPECT_EQ(wire::readU32(message, 4), wire::KeyUp);
    EXPECT_EQ(wire::readU32(message, 8), 2u);
    EXPECT_EQ(wire::readU32(message, 12), 0u);
    EXPECT_EQ(wire::readU32(message, 16), 0x41u);
    EXPECT_EQ(wire::readU32(message, 20), noKey);
    EXPECT_EQ(wire::readU32(message, 28), noKey);
    EXPECT_EQ(wire::readU32(message, 32), 76u);
    EXPECT_EQ(buildKeyMessage(wire::KeyDown, {}).size(), 12u);
}

TEST(EventMessages, GamepadAxesAndButtonLayout) {
    const AxisValue axes[] = {{0, 1.0f}, {13, 0.5f}};
    const Message message = buildGamepadAxes(axes);
    ASSERT_EQ(message.size(), 36u);
    EXPECT_EQ(wire::readU32(message, 0), 36u);
    EXPECT_EQ(wire::readU32(message, 4), wire::GamepadEvent);
    EXPECT_EQ(wire::readU32(message, 12), 1u);
    EXPECT_EQ(wire::readU32(message, 16), 2u);
    EXPECT_EQ(wire::readU32(message, 20), 0u);
    EXPECT_EQ(wire::readU32(message, 24), 0x3F800000u);  // 1.0f, little-endian
    EXPECT_EQ(wire::readU32(message, 28), 13u);
    EXPECT_FLOAT_EQ(wire::readF32(message, 32), 0.5f);

    const Message button = buildGamepadButton(19, true);
    ASSERT_EQ(button.size(), 28u);
    EXPECT_EQ(wire::readU32(button, 12), 2u);
    EXPECT_EQ(wire::readU32(button, 16), 1u);
    EXPECT_EQ(wire::readU32(button, 20), 19u);
    EXPECT_FLOAT_EQ(wire::readF32(button, 24), 1.0f);
    EXPECT_FLOAT_EQ(wire::readF32(buildGamepadButton(0, false), 24), 0.0f);
}

TEST(EventMessages, WantedAppAndChannelEvent) {
    const Message want = buildWantedApp("notepad");
    ASSERT_EQ(want.size(), 144u);
    EXPECT_EQ(wire::readU32(want, 8), 132u);
    EXPECT_EQ(wire::readAppNameRecord(want, 12).nameView(), "notepad");
    EXPECT_EQ(wire::readU32(want, 140), 0u);
    // A name that does not fit keeps the field's closing NUL.
    EXPECT_EQ(wire::readAppNameRecord(buildWantedApp(std::string(200, 'x')), 12).nameView().size(),
              127u);

    const std::uint8_t body[] = {1, 2, 0xFF};
    const Message event = buildChannelEvent(body);
    ASSERT_EQ(event.size(), 15u);
    EXPECT_EQ(wire::readU32(event, 4), wire::ChannelEvent);
    EXPECT_EQ(wire::readU32(event, 8), 3u);
    EXPECT_EQ(event[14], 0xFF);
}

TEST(Utf8Text, CharactersBecomeCodeUnitGroups) {
    const auto characters = utf16CharactersFromUtf8("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    ASSERT_TRUE(characters);
    ASSERT_EQ(characters->size(), 4u);
    EXPECT_EQ((*characters)[0], u"a");
    EXPECT_EQ((*characters)[1], u"\u00E9");
    EXPECT_EQ((*characters)[2], u"\u20AC");
    EXPECT_EQ((*characters)[3], (std::u16string{0xD83D, 0xDE00}));

    for (const char* broken : {"\x80", "\xC3", "\xE2\x82", "\xF4\x90\x80\x80",
                               "\xF8\x88\x80\x80\x80", "\xE0\x80\xAF", "\xED\xBF\xBF"}) {
        EXPECT_FALSE(utf16CharactersFromUtf8(broken)) << broken;
    }
}

TEST(Utf8Text, Utf16CommandLineToUtf8) {
    EXPECT_EQ(utf8FromUtf16(u"a\u00E9\u20AC\U0001F600"),
              std::string("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"));
    EXPECT_FALSE(utf8FromUtf16(std::u16string{0xD83D}));
    EXPECT_FALSE(utf8FromUtf16(std::u16string{0xDE00, u'a'}));
    EXPECT_FALSE(utf8FromUtf16(std::u16string{0xD83D, u'a'}));
}

}  // namespace
}  // namespace pellvane::tool
