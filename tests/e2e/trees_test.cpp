// Folder trees as mods have them: path.ini found in the folders above, every folder walked once
// and none left out in silence, the templates never taken back, any depth.
#include <gtest/gtest.h>

#include <filesystem>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

std::string in(const std::string& folder) {
    return line("In " + folder + ":\n");
}

std::string m32_of(const std::string& header_name, const std::string& tpl, unsigned seed) {
    return m32_header_start(header_name) + tpl.substr(256, 712) + classic_records(4, 2, seed);
}

// A folder without a path.ini of its own uses the nearest one above it: up to the folder named
// and on to the current directory that holds it. A relative prefix is taken from the folder of
// its path.ini; the header name still comes from the file's own folder.
TEST(Tree, PathIniIsFoundAboveTheNearestWinning) {
    const Scene scene("mod");
    const std::string tpl = scene.put_template(4, 2);
    const std::string other = template_bytes(968 + 64, 99);
    scene.put("../other/4x2.m32", other);
    scene.put("textures/stone/wall.tga", classic_tga(4, 2, 1));
    scene.put("textures/wood/path.ini", "../../../other/");
    scene.put("textures/wood/oak/oak.tga", classic_tga(4, 2, 2));
    Files expected = scene.files();

    const ToolRun run = scene.run({"-r", "textures"});

    EXPECT_EQ(run.output, in("textures" + kSep + "stone") + progress_lines("wall.tga", 4, 2) +
                              in("textures" + kSep + "wood" + kSep + "oak") +
                              progress_lines("oak.tga", 4, 2));
    EXPECT_EQ(run.status, 0);
    expected["mod/textures/stone/wall.m32"] = m32_of("stone/wall.m32", tpl, 1);
    expected["mod/textures/wood/oak/oak.m32"] = m32_of("oak/oak.m32", other, 2);
    EXPECT_TRUE(scene.files() == expected);
}

// Folders named that overlap are walked once: nothing is converted twice, and nothing is
// refused for having been made a moment before.
TEST(Tree, FoldersNamedThatOverlapAreWalkedOnce) {
    const Scene scene;
    const std::string tpl = scene.put_template(4, 2);
    scene.put("tex/a.tga", classic_tga(4, 2, 1));
    scene.put("tex/stone/b.tga", classic_tga(4, 2, 2));
    const std::string lines = in("tex") + progress_lines("a.tga", 4, 2) +
                              in("tex" + kSep + "stone") + progress_lines("b.tga", 4, 2);
    for (const auto& names : {std::vector<std::string>{"tex", "tex"},
                              std::vector<std::string>{"tex", "tex" + kSep + "stone"}}) {
        std::vector<std::string> arguments{"-r"};
        arguments.insert(arguments.end(), names.begin(), names.end());
        const ToolRun run = scene.run(arguments);
        EXPECT_EQ(run.output, lines) << names.back();
        EXPECT_EQ(run.status, 0);
    }
    fs::remove(scene.dir() / "tex" / "a.tga");
    fs::remove(scene.dir() / "tex" / "stone" / "b.tga");
    const ToolRun back = scene.run({"--to-tga", "-r", "tex", "tex" + kSep + "stone"});
    EXPECT_EQ(back.output, in("tex") +
                               text_lines("Processing a.m32\nResolution is 4x2\nNeeds 32 bytes in "
                                          "memory\n") +
                               in("tex" + kSep + "stone") +
                               text_lines("Processing b.m32\nResolution is 4x2\nNeeds 32 bytes in "
                                          "memory\n"));
    EXPECT_EQ(back.status, 0);
}

// The resolution templates inside a tree are what its path.ini names; taken back they would be
// textures to paint. A texture that only looks like one is taken back.
TEST(Tree, TemplatesAreNeverTakenBack) {
    const Scene scene("mod", std::string("tpl/"));
    scene.put("tpl/4x2.m32", template_bytes(968 + 32, 5));
    scene.put("tpl/16x16.m32", template_bytes(968 + 1024, 6));
    scene.put("stone/wall.tga", classic_tga(4, 2, 1));
    scene.put("stone/path.ini", "../tpl/");
    ASSERT_EQ(scene.run({"-r", "stone"}).status, 0);
    fs::rename(scene.dir() / "stone" / "wall.m32", scene.dir() / "tpl" / "wall_4x2.m32");
    fs::remove(scene.dir() / "stone" / "wall.tga");
    const Files before = scene.files();

    const ToolRun run = scene.run({"--to-tga", "-r", "."});

    // Moved from its folder, the texture's header name is no longer this folder's.
    EXPECT_EQ(run.output, in("." + kSep + "tpl") +
                              text_lines("Processing wall_4x2.m32\nResolution is 4x2\nNeeds 32 "
                                         "bytes in memory\nwall_4x2.m32 has a header of its own: "
                                         "convert wall_4x2.tga with --keep-header to put it back "
                                         "as it was.\n"));
    EXPECT_EQ(run.status, 0);
    const Files after = scene.files();
    EXPECT_EQ(after.size(), before.size() + 1);
    EXPECT_EQ(after.count("mod/tpl/wall_4x2.tga"), 1u);
}

#ifndef _WIN32
// A folder that cannot be read is said on its own line and the rest of the tree converts; the
// status says a folder failed.
TEST(Tree, AFolderThatCannotBeReadIsSaidAndTheRestConverts) {
    const Scene scene;
    const std::string tpl = scene.put_template(4, 2);
    scene.put("tex/locked/hidden.tga", classic_tga(4, 2, 1));
    scene.put("tex/listless/hidden.tga", classic_tga(4, 2, 2));
    scene.put("tex/open/wall.tga", classic_tga(4, 2, 3));
    fs::permissions(scene.dir() / "tex" / "locked", fs::perms::none);
    fs::permissions(scene.dir() / "tex" / "listless",
                    fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec);
    Files expected = scene.files();

    const ToolRun run = scene.run_as_user({"-r", "tex"}, {"tex/open"});
    const ToolRun named = scene.run_as_user({"-r", "tex/locked"}, {});

    fs::permissions(scene.dir() / "tex" / "locked", fs::perms::owner_all);
    fs::permissions(scene.dir() / "tex" / "listless", fs::perms::owner_all);
    EXPECT_EQ(run.output,
              "Couldn't read the folder tex/listless !\n"
              "Couldn't read the folder tex/locked !\n" +
                  in("tex/open") + progress_lines("wall.tga", 4, 2));
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(named.output, "Couldn't read the folder tex/locked !\n");
    EXPECT_EQ(named.status, 1);
    expected["stone/tex/open/wall.m32"] = m32_of("open/wall.m32", tpl, 3);
    EXPECT_TRUE(scene.files() == expected);
}

// Folders are reached by their handles, one from the other, so that a tree converts however
// far below its root a file lies, beyond the longest path the system takes.
TEST(Tree, ATreeDeeperThanThePathLimitConverts) {
    const Scene scene;
    const std::string tpl = scene.put_template(4, 2);
    scene.put("deep/path.ini", (scene.root() / "tpl" / "").string());
    const std::string part(200, 'd');
    const fs::path start = fs::current_path();
    fs::current_path(scene.dir() / "deep");
    std::string shown = "deep";
    for (int level = 0; level < 25; ++level) {
        fs::create_directory(part);
        fs::current_path(part);
        shown += "/" + part;
    }
    fs::create_directory("stone");
    write_bytes("stone/wall.tga", classic_tga(4, 2, 4));
    fs::current_path(start);
    ASSERT_GT(shown.size(), 4096u);

    const ToolRun run = scene.run({"-r", "deep"});

    EXPECT_EQ(run.output, in(shown + "/stone") + progress_lines("wall.tga", 4, 2));
    EXPECT_EQ(run.status, 0);
    fs::current_path(scene.dir() / "deep");
    for (int level = 0; level < 25; ++level) {
        fs::current_path(part);
    }
    const std::string made = read_bytes("stone/wall.m32");
    fs::current_path(start);
    EXPECT_TRUE(made == m32_of("stone/wall.m32", tpl, 4));
}
#endif

}  // namespace
}  // namespace varnel::testing
