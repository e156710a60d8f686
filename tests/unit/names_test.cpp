#include <gtest/gtest.h>

#include "platform/console.hpp"
#include "platform/folders.hpp"
#include "platform/names.hpp"

namespace varnel::platform {
namespace {

TEST(LongPathForm, FullPathsAreGivenTheFormWithoutALengthLimit) {
    const struct {
        std::string path;
        std::string form;
    } cases[] = {
        {"C:\\tpl\\3x2.m32", "\\\\?\\C:\\tpl\\3x2.m32"},
        {"z:\\", "\\\\?\\z:\\"},
        {"\\\\server\\share\\tpl\\", "\\\\?\\UNC\\server\\share\\tpl\\"},
        {"\\\\?\\C:\\tpl", "\\\\?\\C:\\tpl"},
        {"\\\\?\\UNC\\server\\share", "\\\\?\\UNC\\server\\share"},
        {"\\\\.\\NUL", "\\\\.\\NUL"},
        {"\\??\\C:\\tpl", "\\??\\C:\\tpl"},
        {"tpl\\3x2.m32", "tpl\\3x2.m32"},
        {"C:tpl", "C:tpl"},
        {"\\tpl", "\\tpl"},
        {"1:\\tpl", "1:\\tpl"},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(long_path_form(c.path), c.form) << c.path;
    }
}

TEST(Patterns, MatchTheWholeNameWithLettersOfEitherCase) {
    const struct {
        std::u16string name;
        std::u16string pattern;
        bool matches;
    } cases[] = {
        {u"wall.tga", u"*.tga", true},
        {u"WALL.TGA", u"*.tga", true},
        {u"wall.tga_old", u"*.tga", false},
        {u"wall.tgabak", u"*.tga", false},
        {u"wall.tga.tga", u"*.tga", true},
        {u".tga", u"*.tga", true},
        {u"tga", u"*.tga", false},
        {u"a.tga", u"?.tga", true},
        {u"ab.tga", u"?.tga", false},
        {u"walltexture.tga", u"w*e*.tga", true},
        {u"wall", u"w*l*l*l", false},
        {u"anything", u"*", true},
        {u"", u"*", true},
        {u"", u"?", false},
        {u"\u58C1.tga", u"?.tga", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matches_pattern(c.name, c.pattern), c.matches)
            << std::string(c.name.begin(), c.name.end());
    }
}

TEST(Explorer, IsKnownByItsProgramsNameInAnyCase) {
    const struct {
        std::string program;
        bool explorer;
    } cases[] = {
        {"explorer.exe", true},   {"EXPLORER.EXE", true},
        {"Explorer.exe", true},   {"cmd.exe", false},
        {"explorer", false},      {"explorer.exe.exe", false},
        {"iexplorer.exe", false}, {"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(is_explorer(c.program), c.explorer) << c.program;
    }
}

}  // namespace
}  // namespace varnel::platform
