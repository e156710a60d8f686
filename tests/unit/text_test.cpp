#include <gtest/gtest.h>

#include "platform/text.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace varnel::platform {
namespace {

TEST(Utf16, UnpairedSurrogatesComeBackAsTheNameTheyWere) {
    const struct {
        std::u16string name;
        std::string utf8;
    } cases[] = {
        {u"a\xD800"
         u"b",
         "a\xED\xA0\x80"
         "b"},
        {u"\xDC00", "\xED\xB0\x80"},
        {u"\xDBFF\xDBFF", "\xED\xAF\xBF\xED\xAF\xBF"},
        {u"\xDC00\xD800", "\xED\xB0\x80\xED\xA0\x80"},
        {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8_from_utf16(c.name), c.utf8);
        EXPECT_TRUE(utf16_from_utf8(c.utf8) == c.name) << c.utf8;
    }
}

#ifdef _WIN32
const std::string kEAcute = "\xC3\xA9";
const std::string kWall = "\xE5\xA3\x81";
const std::string kEmoji = "\xF0\x9F\x98\x80";
const std::string kFullWidthW = "\xEF\xBD\x97";
const std::string kLoneSurrogate = "\xED\xA0\x80";

TEST(CodePage, EachCharacterItCannotShowIsOneQuestionMark) {
    const struct {
        unsigned code_page;
        std::string text;
        std::string bytes;
    } cases[] = {
        {1252, "a" + kEAcute + "b",
         "a\xE9"
         "b"},
        {1252, kWall + kEmoji + kFullWidthW + kLoneSurrogate, "????"},
        {932, kWall + kEAcute, "\x95\xC7?"},
        {932, kEmoji + kLoneSurrogate, "??"},
        {65001, kWall + kEmoji, kWall + kEmoji},
        {65001, "a" + kLoneSurrogate, "a?"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_in_code_page(c.text, c.code_page), c.bytes) << c.code_page << " " << c.text;
    }
}

TEST(CodePage, Gb18030ShowsEveryCharacterButAnUnpairedSurrogate) {
    if (IsValidCodePage(54936) == 0) {
        GTEST_SKIP() << "this system lacks code page 54936 (GB18030)";
    }
    EXPECT_EQ(text_in_code_page(kWall + kEmoji + kEAcute, 54936),
              "\xB1\xDA\x94\x39\xFC\x36\xA8\xA6");
    EXPECT_EQ(text_in_code_page(kLoneSurrogate + "b", 54936), "?b");
}
#endif

}  // namespace
}  // namespace varnel::platform
