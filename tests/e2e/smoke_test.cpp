#include <gtest/gtest.h>

#include "tool_runner.hpp"

namespace varnel::testing {
namespace {

TEST(Banner, NoArgumentPrintsUsageAndSucceeds) {
    TempFolder folder;
    const ToolRun run = run_varnel(folder.path, {});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, text_lines("TGA to M32 Converter 1.0.0\n\n"
                                     "Usage: varnel TARGAFILE\n\n"
                                     "Supported Resolutions (32bpp):\n"
                                     "16x16, 16x32, 32x16, 32x32, 32x64, 64x32, 64x64\n"
                                     "64x128, 128x64, 128x128, 256x256, 512x512\n\n"));
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(list_files(folder.path).empty());
}

}  // namespace
}  // namespace varnel::testing
