#include <gtest/gtest.h>

#include <string>

#include "driver/path_ini.hpp"

namespace varnel::driver {
namespace {

std::string visible(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\r') {
            out += "<CR>";
        } else if (c == '\n') {
            out += "<LF>";
        } else if (c == '\0') {
            out += "<NUL>";
        } else if (c == '\x1A') {
            out += "<SUB>";
        } else {
            out += c;
        }
    }
    return out;
}

std::string text(const char* bytes, std::size_t n) {
    return std::string(bytes, n);
}

std::string utf16(const std::u16string& units, bool little_endian) {
    std::string out = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : units) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        out += little_endian ? std::string{low, high} : std::string{high, low};
    }
    return out;
}

TEST(PathIni, PrefixIsTheFirstLineReadByTheTextRules) {
    const std::string long_line(300, 'L');
    const struct {
        std::string file;
        std::string prefix;
    } cases[] = {
        {"D:\\tpl\\", "D:\\tpl\\"},
        {"tpl/\n", "tpl/"},
        {"tpl/\r\n", "tpl/"},
        {"tpl/\nsecond/\n", "tpl/"},
        {"tpl/\r\nsecond/\r\n", "tpl/"},
        {"tpl/\n\n", "tpl/"},
        {"tpl/\r\n\r\n", "tpl/"},
        {"\n", ""},
        {"\r\n", ""},
        {"\n\n", ""},
        {"", ""},
        {"a\rb/", "a\rb/"},
        {"a\rb/\n", "a\rb/"},
        {"tpl/\r", "tpl/\r"},
        {"tpl/\r\r\n", "tpl/\r"},
        {"\r", "\r"},
        {"tpl/\x1A", "tpl/"},
        {"tpl/\x1A"
         "more\n",
         "tpl/"},
        {"tp\x1Al/\n", "tp"},
        {"\x1Atpl/\n", ""},
        {"tpl/\r\x1A\n", "tpl/\r"},
        {text("tp\0l/\n", 6), "tp"},
        {text("\0tpl/", 5), ""},
        {text("tpl/\n\0", 6), "tpl/"},
        {" tpl / \n", " tpl / "},
        {"  \n", "  "},
        {"\ttpl\t\n", "\ttpl\t"},
        {long_line, long_line},
        {long_line + "\r\nnext", long_line},
        {std::string(99, 'x') + "yz\n", std::string(99, 'x') + "yz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(visible(template_prefix_from(c.file)), visible(c.prefix)) << visible(c.file);
    }
}

TEST(PathIni, NotepadsEncodingsAreDecodedBeforeTheTextRules) {
    const struct {
        std::string file;
        std::string prefix;
    } cases[] = {
        {"\xEF\xBB\xBFtpl\\\r\n", "tpl\\"},
        {"\xEF\xBB\xBF", ""},
        {"\xEF\xBB\xBF\xEF\xBB\xBFtpl\\", "\xEF\xBB\xBFtpl\\"},
        {"tpl\xC3\xA4\\\n", "tpl\xC3\xA4\\"},
        {utf16(u"tpl\u00E4\\\r\nsecond\r\n", true), "tpl\xC3\xA4\\"},
        {utf16(u"tpl\u00E4\\\r\nsecond\r\n", false), "tpl\xC3\xA4\\"},
        {utf16(u"\u58C1\xD83D\xDE00\\", true), "\xE5\xA3\x81\xF0\x9F\x98\x80\\"},
        {utf16(u"a\xD800"
               u"b",
               true),
         "a\xED\xA0\x80"
         "b"},
        {utf16(u"tpl\r", true), "tpl\r"},
        {utf16(u"tpl\r\r\n", false), "tpl\r"},
        {utf16(u"tpl\x1A\r\nmore", true), "tpl"},
        {utf16(std::u16string(u"tp\0l", 4), true), "tp"},
        {utf16(u"\x0A0A\x0D0D\x1A1A", true), "\xE0\xA8\x8A\xE0\xB4\x8D\xE1\xA8\x9A"},
        {utf16(u"tpl", true) + "\\", "tpl"},
        {utf16(u"", false), ""},
#ifndef _WIN32
        {"tpl\xE4\\\n", "tpl\xE4\\"},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(visible(template_prefix_from(c.file)), visible(c.prefix)) << visible(c.file);
    }
}

}  // namespace
}  // namespace varnel::driver
