#include "tools/utf8_text.h"

#include <gtest/gtest.h>

namespace pellvane::tool {
namespace {

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
