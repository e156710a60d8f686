#include <gtest/gtest.h>

#include "m32/naming.hpp"

namespace varnel::m32 {
namespace {

TEST(TemplatePath, IsThePrefixThenWidthXHeightDotM32) {
    const std::string long_prefix(150, 'p');
    const struct {
        std::string prefix;
        std::uint16_t width;
        std::uint16_t height;
        std::string path;
    } cases[] = {
        {"tpl/", 64, 32, "tpl/64x32.m32"},
        {"", 64, 32, "64x32.m32"},
        {"D:\\tpl\\", 64, 64, "D:\\tpl\\64x64.m32"},
        {"", 0, 64, "0x64.m32"},
        {"t/", 64, 0, "t/64x0.m32"},
        {"", 0, 0, "0x0.m32"},
        {"", 65535, 65535, "65535x65535.m32"},
        {"tpl", 16, 16, "tpl16x16.m32"},
        {" my tpl/ ", 1, 2, " my tpl/ 1x2.m32"},
        {long_prefix, 512, 512, long_prefix + "512x512.m32"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(template_path(c.prefix, c.width, c.height), c.path) << c.prefix;
    }
}

TEST(OutputName, ReplacesTheLastThreeCharacters) {
    const struct {
        const char* input;
        const char* output;
    } cases[] = {
        {"wall.tga", "wall.m32"},         {"wall.TGA", "wall.m32"},
        {"dir/wall.tga", "dir/wall.m32"}, {"sub\\wall.tga", "sub\\wall.m32"},
        {"wall.tga.bak", "wall.tga.m32"}, {"tga", "m32"},
        {"tga.m32", "tga.m32"},           {"tgadir/photo.bmp", "tgadir/photo.m32"},
        {"photo.tga ", "photo.tm32"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(renamed(c.input, "m32", false), c.output) << c.input;
        EXPECT_EQ(renamed(c.input, "m32", true), c.output) << c.input;
    }
    EXPECT_EQ(renamed("rock.m32", "tga"), "rock.tga") << "the way back";
}

// Where names are UTF-8 text (Windows), a character may take several bytes; elsewhere each byte
// of a name is a character, as the system sees it.
TEST(OutputName, CountsCharactersOfUtf8TextWhereNamesAreText) {
    const struct {
        const char* input;
        const char* bytes;
        const char* text;
    } cases[] = {
        {"tga.b\xC3\xA4k", "tga.bm32", "tga.m32"},
        {"\xE5\xA3\x81.tga", "\xE5\xA3\x81.m32", "\xE5\xA3\x81.m32"},
        {"tga\xE5\xA3\x81\xE5\xA3\x81\xE5\xA3\x81", "tga\xE5\xA3\x81\xE5\xA3\x81m32", "tgam32"},
        {"tga\xF0\x9F\x99\x82", "tga\xF0m32", "tm32"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(renamed(c.input, "m32", false), c.bytes) << c.input;
        EXPECT_EQ(renamed(c.input, "m32", true), c.text) << c.input;
    }
}

TEST(LastDirectoryComponent, IsTheTextAfterTheLastSeparator) {
    const struct {
        const char* directory;
        char separator;
        const char* component;
    } cases[] = {
        {"D:\\textures\\stone", '\\', "stone"},
        {"D:\\stone", '\\', "stone"},
        {"D:\\", '\\', ""},
        {"C:\\a b\\c.d", '\\', "c.d"},
        {"C:\\mixed/parts", '\\', "mixed/parts"},
        {"/home/artist/stone", '/', "stone"},
        {"/stone", '/', "stone"},
        {"/", '/', ""},
        {"/home/back\\slash", '/', "back\\slash"},
        {"stone", '/', "stone"},
        {"stone", '\\', "stone"},
        {"D:\\textures\\stone", '/', "D:\\textures\\stone"},
        {"", '/', ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(last_directory_component(c.directory, c.separator), c.component)
            << c.directory << " with '" << c.separator << "'";
    }
}

TEST(HeaderName, IsTheComponentASlashAndTheOutputName) {
    const struct {
        const char* component;
        const char* output;
        const char* header;
    } cases[] = {
        {"stone", "wall.m32", "stone/wall.m32"},
        {"", "wall.m32", "/wall.m32"},
        {"stone", "sub\\wall.m32", "stone/sub\\wall.m32"},
        {"stone", "dir/wall.m32", "stone/dir/wall.m32"},
        {"a b", "c d.m32", "a b/c d.m32"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(header_name(c.component, c.output), c.header) << c.component << " + " << c.output;
    }
}

}  // namespace
}  // namespace varnel::m32
