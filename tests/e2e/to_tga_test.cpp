// The other half of a modder's loop: M32 files back to TGA files, and whole folder trees, each file
// converted in its own folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kFailed = 255;  // status -1 as the caller sees it

// An M32 file of 256 records whose header block is `block`, A as given.
std::string m32_of(const std::string& block, std::uint8_t alpha) {
    std::string records;
    for (int i = 0; i < 256; ++i) {
        records += {static_cast<char>(i), static_cast<char>(i * 3), static_cast<char>(i * 7),
                    static_cast<char>(alpha)};
    }
    return m32_header_start("stone/art.m32") + block + records;
}

std::string lines_for(const std::string& size) {
    return text_lines("Processing art.m32\nResolution is " + size + "\nNeeds 1024 bytes in memory\n");
}

// The size is that of the one template whose record count fits, or of the one among several
// whose header block is the file's own; none, or several that nothing tells apart, is said.
TEST(ToTga, SizeIsTheTemplateOfTheRecordCountToldApartByItsBlock) {
    const std::string other_block(712, 'o');
    const struct {
        const char* what;
        bool two_templates;
        int block_of;  // 16: the 16x16 template's block, 8: the 8x32 one's, 0: neither
        std::string output;
        int status;
    } cases[] = {
        {"one template, whose block is not the file's", false, 0,
         lines_for("16x16") + line("art.m32 has a header of its own: convert art.tga with "
                                   "--keep-header to put it back as it was.\n"),
         0},
        {"two, the first's block", true, 16, lines_for("16x16"), 0},
        {"two, the second's block", true, 8, lines_for("8x32"), 0},
        {"two, neither block",
         true,
         0,
         line("Processing art.m32\nart.m32 has 256 records, and resolution templates of 8x32, "
              "16x16 fit it !\n"),
         kFailed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Scene scene;
        const std::string square = scene.put_template(16, 16);
        const std::string tall = c.two_templates ? scene.put_template(8, 32) : "";
        scene.put_template(4, 4);
        const std::string block = c.block_of == 16  ? square.substr(256, 712)
                                  : c.block_of == 8 ? tall.substr(256, 712)
                                                    : other_block;
        scene.put("art.m32", m32_of(block, 255));
        const Files before = scene.files();
        const ToolRun run = scene.run({"--to-tga", "art.m32"});
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(run.status, c.status);
        const Files after = scene.files();
        EXPECT_EQ(after.size(), before.size() + (c.status == 0 ? 1 : 0));
        if (c.status == 0) {
            const std::string tga = after.at("stone/art.tga");
            EXPECT_EQ(tga.substr(12, 4), le16(c.block_of == 8 ? 8 : 16) +
                                             le16(c.block_of == 8 ? 32 : 16));
        }
    }
    const Scene none;
    none.put_template(4, 4);
    none.put("art.m32", m32_of(other_block, 255));
    const ToolRun run = none.run({"--to-tga", "art.m32"});
    EXPECT_EQ(run.output, line("Processing art.m32\nCouldn't locate a resolution template of 256 "
                               "records for art.m32. Make sure it's in this dir.\n"));
    EXPECT_EQ(run.status, kFailed);
}

TEST(ToTga, WhatIsNoM32FileIsRefused) {
    const Scene scene;
    scene.put_template(16, 16);
    scene.put("short.m32", std::string(967, 'x'));
    scene.put("odd.m32", std::string(968 + 3, 'x'));
    const struct {
        const char* name;
        std::string output;
        int status;
    } cases[] = {
        {"short.m32", line("Processing short.m32\nshort.m32 is not an M32 file !\n"), 1},
        {"odd.m32", line("Processing odd.m32\nodd.m32 is not an M32 file !\n"), 1},
        {"gone.m32", line("gone.m32 does not exist !\n"), 1},
        {"photo.bmp", line("Error - No M32-File !\n"), 0},
    };
    const Files before = scene.files();
    for (const auto& c : cases) {
        const ToolRun run = scene.run({"--to-tga", c.name});
        EXPECT_EQ(run.output, c.output);
        EXPECT_EQ(run.status, c.status) << c.name;
    }
    EXPECT_EQ(scene.files(), before);
}

// The TGA file beside an M32 file is usually the artist's own work.
TEST(ToTga, AnExistingTgaFileIsNeverReplaced) {
    const Scene scene;
    const std::string block = scene.put_template(16, 16).substr(256, 712);
    scene.put("art.m32", m32_of(block, 255));
    scene.put("art.tga", "the artist's own");
    const Files before = scene.files();
    const ToolRun run = scene.run({"--to-tga", "art.m32"});
    EXPECT_EQ(run.output, lines_for("16x16") + line("Won't overwrite the TGA file art.tga !\n"));
    EXPECT_EQ(run.status, kFailed);
    EXPECT_EQ(scene.files(), before);
#ifndef _WIN32
    // A link of that name is a file of that name, even one that leads nowhere yet.
    fs::remove(scene.dir() / "art.tga");
    fs::create_symlink("elsewhere.tga", scene.dir() / "art.tga");
    EXPECT_EQ(scene.run({"--to-tga", "art.m32"}).status, kFailed);
    EXPECT_FALSE(fs::exists(scene.dir() / "elsewhere.tga"));
#endif
}

// Alpha that is 0 in every record is read as no alpha where a TGA file does not say otherwise; the
// TGA file varnel writes says it is alpha, so that the way back is exact.
TEST(ToTga, AlphaThatIsZeroEverywhereComesBackAsItWas) {
    const Scene scene;
    const std::string block = scene.put_template(16, 16).substr(256, 712);
    const std::string m32 = m32_of(block, 0);
    scene.put("art.m32", m32);
    ASSERT_EQ(scene.run({"--to-tga", "art.m32"}).status, 0);
    fs::remove(scene.dir() / "art.m32");
    ASSERT_EQ(scene.run({"art.tga"}).status, 0);
    EXPECT_TRUE(scene.read("art.m32") == m32);
}

// Every TGA file below the folder named, each converted in its own folder with its path.ini, as a
// run there would convert it; a folder without TGA files needs none, and one without its
// path.ini is said once while the rest of the tree converts.
TEST(Tree, EveryFolderConvertsWithItsOwnPathIni) {
    const Scene scene("work", std::nullopt);
    scene.put_template(4, 2);
#ifdef _WIN32
    const std::string sep = "\\";
#else
    const std::string sep = "/";
#endif
    scene.put("textures/stone/path.ini", "../../../tpl/");
    scene.put("textures/stone/wall.tga", classic_tga(4, 2, 1));
    scene.put("textures/stone/notes.txt", "not a texture");
    scene.put("textures/empty/readme.txt", "nothing here");
    scene.put("textures/wood/dark/plank.tga", classic_tga(4, 2, 2));
    scene.put("textures/wood/light/path.ini", "../../../../tpl/");
    scene.put("textures/wood/light/oak.TGA", classic_tga(4, 2, 3));
    const Files before = scene.files();

    const ToolRun run = scene.run({"-r", "textures"});

    const std::string folder = "In textures" + sep;
    EXPECT_EQ(run.output, line(folder + "stone:\n") + progress_lines("wall.tga", 4, 2) +
                              line(folder + "wood" + sep + "dark:\nCouldn't find path.ini !\n") +
                              line(folder + "wood" + sep + "light:\n") +
                              progress_lines("oak.TGA", 4, 2));
    EXPECT_EQ(run.status, kFailed);
    Files expected = before;
    const std::string block = before.at("tpl/4x2.m32").substr(256, 712);
    expected["work/textures/stone/wall.m32"] =
        m32_header_start("stone/wall.m32") + block + classic_records(4, 2, 1);
    expected["work/textures/wood/light/oak.m32"] =
        m32_header_start("light/oak.m32") + block + classic_records(4, 2, 3);
    EXPECT_TRUE(scene.files() == expected);

    fs::remove(scene.dir() / "textures" / "wood" / "light" / "oak.TGA");
    const ToolRun back = scene.run({"--to-tga", "-r", "textures" + sep + "wood"});
    EXPECT_EQ(back.output,
              line(folder + "wood" + sep + "light:\n") +
                  text_lines("Processing oak.m32\nResolution is 4x2\nNeeds 32 bytes in memory\n"));
    EXPECT_EQ(back.status, 0);
    EXPECT_TRUE(fs::exists(scene.dir() / "textures" / "wood" / "light" / "oak.tga"));

    const ToolRun nowhere = scene.run({"-r", "nowhere"});
    EXPECT_EQ(nowhere.output, line("nowhere does not exist !\n"));
    EXPECT_EQ(nowhere.status, 1);
}

}  // namespace
}  // namespace varnel::testing
