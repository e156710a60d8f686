#include <gtest/gtest.h>

#include <string>

#include "m32/m32_layout.hpp"
#include "tga_builder.hpp"
#include "tool_runner.hpp"

namespace varnel::m32 {
namespace {

TEST(HeaderStart, IsTheLeadingWordTheNameAndZerosUpTo256) {
    const std::string names[] = {
        "",
        "/wall.m32",
        "stone/wall.m32",
        "stone/sub\\wall.m32",
        std::string(99, 'n'),
        "d/" + std::string(97, '\xE9'),
    };
    for (const std::string& name : names) {
        const std::optional<HeaderStart> made = make_header_start(name);
        ASSERT_TRUE(made) << name;
        const HeaderStart& start = *made;
        EXPECT_EQ(start[0], 0x04) << name;
        EXPECT_EQ(start[1], 0x00) << name;
        EXPECT_EQ(start[2], 0x00) << name;
        EXPECT_EQ(start[3], 0x00) << name;
        const std::string stored(reinterpret_cast<const char*>(start.data()) + 4, name.size());
        EXPECT_EQ(stored, name);
        std::size_t zeros = 0;
        for (std::size_t i = 4 + name.size(); i < start.size(); ++i) {
            zeros += start[i] == 0 ? 1u : 0u;
        }
        EXPECT_EQ(zeros, 252 - name.size()) << name;
    }
    EXPECT_FALSE(make_header_start(std::string(kMaxHeaderName + 1, 'n')));
}

TEST(TemplateBlock, IsBytes256To967OfATemplateOfAtLeast968Bytes) {
    const struct {
        std::size_t size;
        TemplateRead result;
    } cases[] = {
        {0, TemplateRead::TooShort},   {256, TemplateRead::TooShort},
        {967, TemplateRead::TooShort}, {968, TemplateRead::Ok},
        {969, TemplateRead::Ok},       {968 + 4 * 64 * 64, TemplateRead::Ok},
    };
    testing::TempFolder folder;
    const std::string path = (folder.path / "64x64.m32").string();
    for (const auto& c : cases) {
        const std::string bytes = testing::template_bytes(c.size, static_cast<unsigned>(c.size));
        testing::write_bytes(path, bytes);
        TemplateBlock block;
        block.fill(0xEE);
        platform::File file;
        const TemplateRead result =
            read_template(file, file.open_for_reading(platform::Folder::current(), path), block);
        EXPECT_EQ(static_cast<int>(result), static_cast<int>(c.result)) << c.size << " bytes";
        if (result == TemplateRead::Ok) {
            const std::string copied(reinterpret_cast<const char*>(block.data()), block.size());
            EXPECT_TRUE(copied == bytes.substr(256, 712)) << c.size << " bytes";
        }
    }
}

}  // namespace
}  // namespace varnel::m32
