// --update: a file is converted only where its output is missing or older than the file, its
// template or its path.ini; a file that is up to date says nothing and its output stays as it is.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

// A mod whose every texture has been converted an hour after its files were last changed: two
// folders of 4 x 2 textures, one with a path.ini of its own, and an 8 x 4 texture beside them.
struct ConvertedMod {
    Scene scene{"mod"};
    ConvertedMod() {
        scene.put_template(4, 2);
        scene.put_template(8, 4);
        scene.put("tex/stone/wall.tga", classic_tga(4, 2, 1));
        scene.put("tex/stone/big.tga", classic_tga(8, 4, 2));
        scene.put("tex/wood/path.ini", "../../../tpl/");
        scene.put("tex/wood/oak.tga", classic_tga(4, 2, 3));
        EXPECT_EQ(scene.run({"-r", "tex"}).status, 0);
        for (const std::string& name : list_files(scene.root())) {
            const bool output = name.size() > 4 && name.compare(name.size() - 4, 4, ".m32") == 0 &&
                                name.rfind("tpl/", 0) != 0;
            age(name, output ? -1 : -2);
        }
    }
    // Sets the file's time to `hours` from now.
    void age(const std::string& name, int hours) const {
        fs::last_write_time(scene.root() / name,
                            fs::file_time_type::clock::now() + std::chrono::hours(hours));
    }
    std::map<std::string, fs::file_time_type> times() const {
        std::map<std::string, fs::file_time_type> found;
        for (const std::string& name : list_files(scene.root())) {
            found[name] = fs::last_write_time(scene.root() / name);
        }
        return found;
    }
};

TEST(Update, WhatIsUpToDateIsNotTouched) {
    const ConvertedMod mod;
    const Files before = mod.scene.files();
    const auto times = mod.times();
    for (const auto& arguments :
         {std::vector<std::string>{"--update", "-r", "tex"},
          std::vector<std::string>{"--update", "--keep-header", "-r", "tex"},
          std::vector<std::string>{"--update", "tex" + kSep + "stone" + kSep + "wall.tga"}}) {
        const ToolRun run = mod.scene.run(arguments);
        EXPECT_EQ(run.output, "") << arguments.back();
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(mod.scene.files() == before);
        EXPECT_TRUE(mod.times() == times);
    }
    // Back to TGA: a TGA file newer than its M32 file is up to date, and is not refused.
    fs::remove(mod.scene.dir() / "tex" / "stone" / "wall.tga");
    ASSERT_EQ(mod.scene.run({"--to-tga", "tex" + kSep + "stone" + kSep + "wall.m32"}).status, 0);
    const ToolRun back =
        mod.scene.run({"--to-tga", "--update", "tex" + kSep + "stone" + kSep + "wall.m32"});
    EXPECT_EQ(back.output, "");
    EXPECT_EQ(back.status, 0);
}

// A file, a template or a path.ini changed after the outputs: just what is made of it converts.
TEST(Update, AChangeConvertsJustWhatIsMadeOfIt) {
    const std::string stone = "In tex" + kSep + "stone:\n";
    const std::string wood = "In tex" + kSep + "wood:\n";
    const struct {
        const char* changed;
        std::string output;
    } cases[] = {
        {"mod/tex/stone/wall.tga", line(stone) + progress_lines("wall.tga", 4, 2)},
        {"tpl/4x2.m32", line(stone) + progress_lines("wall.tga", 4, 2) + line(wood) +
                            progress_lines("oak.tga", 4, 2)},
        {"tpl/8x4.m32", line(stone) + progress_lines("big.tga", 8, 4)},
        {"mod/tex/wood/path.ini", line(wood) + progress_lines("oak.tga", 4, 2)},
        {"mod/path.ini",
         line(stone) + progress_lines("big.tga", 8, 4) + progress_lines("wall.tga", 4, 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.changed);
        const ConvertedMod mod;
        mod.age(c.changed, 0);
        const Files before = mod.scene.files();
        const ToolRun run = mod.scene.run({"--update", "-r", "tex"});
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(run.status, 0);
        // The same bytes: nothing but what is made of the change was rewritten, and that the same.
        EXPECT_TRUE(mod.scene.files() == before);
    }
}

}  // namespace
}  // namespace varnel::testing
