#include <gtest/gtest.h>

#include "m32/naming.hpp"

namespace varnel::m32 {
namespace {

TEST(OutputName, ReplacesTheLastThreeCharacters) {
    const struct {
        const char* input;
        const char* output;
    } cases[] = {
        {"wall.tga", "wall.m32"},
        {"wall.TGA", "wall.m32"},
        {"dir/wall.tga", "dir/wall.m32"},
        {"wall.tga.bak", "wall.tga.m32"},
        {"tga", "m32"},
        {"tgadir/photo.bmp", "tgadir/photo.m32"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(output_name(c.input), c.output) << c.input;
    }
}

}  // namespace
}  // namespace varnel::m32
