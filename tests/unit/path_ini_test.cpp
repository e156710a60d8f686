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

}  // namespace
}  // namespace varnel::driver
