// Successful conversions: the typical run byte for byte, and the naming rules as a user meets them.
#include <gtest/gtest.h>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

// 'varnel wall.tga' in a folder named 'stone' whose path.ini names the template folder by its
// full path, with no line break: a 64 x 64 image.
TEST(TypicalRun, ConvertsWallTgaByteForByte) {
    const Scene scene("stone", std::nullopt);
    const std::string prefix = (fs::absolute(scene.root()) / "tpl" / "").string();
    scene.put("path.ini", prefix);
    const std::string tga = classic_tga(64, 64, 3);
    scene.put("wall.tga", tga);
    // As long as a real 64 x 64 M32 file: only its bytes 256 to 967 may reach the output.
    const std::string tpl = scene.put_template(64, 64, 968 + 4 * 64 * 64);

    const ToolRun run = scene.run({"wall.tga"});

    EXPECT_EQ(
        run.output,
        text_lines("Processing wall.tga\nResolution is 64x64\nNeeds 12288 bytes in memory\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");

    std::string expected = std::string("\x04\x00\x00\x00", 4) + "stone/wall.m32";
    expected += std::string(238, '\0');
    expected += tpl.substr(256, 968 - 256);
    for (int row = 0; row < 64; ++row) {
        // The file holds the bottom row first; the M32 file starts with the top row.
        const std::size_t stored = 18 + static_cast<std::size_t>(63 - row) * 64 * 3;
        for (std::size_t x = 0; x < 64; ++x) {
            expected += tga[stored + x * 3 + 2];
            expected += tga[stored + x * 3 + 1];
            expected += tga[stored + x * 3];
            expected += '\xFF';
        }
    }
    ASSERT_EQ(expected.size(), 968u + 4 * 4096);
    const Files files = scene.files();
    EXPECT_EQ(files, (Files{{"stone/path.ini", prefix},
                            {"stone/wall.m32", expected},
                            {"stone/wall.tga", tga},
                            {"tpl/64x64.m32", tpl}}));
}

struct NamingCase {
    std::string name;
    std::vector<std::string> arguments;
    std::string input;   // the TGA file, below the current directory
    std::string output;  // the M32 file expected beside it
    std::string header_name;
    std::uint16_t width = 2;
    std::uint16_t height = 2;
    std::string dir_name = "stone";
};

void PrintTo(const NamingCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<NamingCase> naming_cases() {
    const std::string a89(89, 'a');
    return {
        {"TgaInTheFolderPart",
         {"tgadir/photo.bmp"},
         "tgadir/photo.bmp",
         "tgadir/photo.m32",
         "stone/tgadir/photo.m32"},
        {"LastThreeCharactersReplaced",
         {"wall.tga.bak"},
         "wall.tga.bak",
         "wall.tga.m32",
         "stone/wall.tga.m32"},
        {"UpperCaseTga", {"wall.TGA"}, "wall.TGA", "wall.m32", "stone/wall.m32"},
        {"TgaInTheMiddle",
         {"mytgas_01.dat"},
         "mytgas_01.dat",
         "mytgas_01.m32",
         "stone/mytgas_01.m32"},
        {"NameIsJustTga", {"tga"}, "tga", "m32", "stone/m32"},
        {"SizeNotInTheUsageList", {"odd.tga"}, "odd.tga", "odd.m32", "stone/odd.m32", 3, 5},
        {"WideImage", {"strip.tga"}, "strip.tga", "strip.m32", "stone/strip.m32", 300, 1},
        {"HeaderNameOf99Characters",
         {a89 + ".tga"},
         a89 + ".tga",
         a89 + ".m32",
         "stone/" + a89 + ".m32"},
        {"FolderNameWithSpaces",
         {"wall.tga"},
         "wall.tga",
         "wall.m32",
         "old stone/wall.m32",
         2,
         2,
         "old stone"},
    };
}

class Naming : public ::testing::TestWithParam<NamingCase> {};

TEST_P(Naming, WritesTheOutputBesideTheInput) {
    const NamingCase& c = GetParam();
    const Scene scene(c.dir_name);
    scene.put(c.input, classic_tga(c.width, c.height, 11));
    const std::string tpl = scene.put_template(c.width, c.height);
    const Files before = scene.files();

    const ToolRun run = scene.run(c.arguments);

    EXPECT_EQ(run.output, progress_lines(c.arguments.front(), c.width, c.height));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    Files expected = before;
    expected[c.dir_name + "/" + c.output] = m32_header_start(c.header_name) + tpl.substr(256, 712) +
                                            classic_records(c.width, c.height, 11);
    EXPECT_EQ(scene.files(), expected);
}

INSTANTIATE_TEST_SUITE_P(Names, Naming, ::testing::ValuesIn(naming_cases()), case_name<NamingCase>);

TEST(EmptyImage, WidthOrHeightZeroGivesTheHeaderAlone) {
    const struct {
        std::uint16_t width, height;
    } sizes[] = {{0, 64}, {64, 0}, {0, 0}, {65535, 0}, {0, 65535}};
    for (const auto& size : sizes) {
        const std::string tpl_name =
            std::to_string(size.width) + "x" + std::to_string(size.height) + ".m32";
        SCOPED_TRACE(tpl_name);
        const Scene scene;
        TgaFields fields;
        fields.width = size.width;
        fields.height = size.height;
        scene.put("wall.tga", tga_header(fields));
        const std::string tpl = scene.put_template(size.width, size.height);

        const ToolRun run = scene.run({"wall.tga"});

        EXPECT_EQ(run.output, progress_lines("wall.tga", size.width, size.height));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.errors, "");
        const std::string output = scene.read("wall.m32");
        EXPECT_EQ(output.size(), 968u);
        EXPECT_EQ(output, m32_header_start("stone/wall.m32") + tpl.substr(256, 712));
        EXPECT_EQ(list_files(scene.root()),
                  (std::vector<std::string>{"stone/path.ini", "stone/wall.m32", "stone/wall.tga",
                                            "tpl/" + tpl_name}));
    }
}

// Bytes that a text stream would translate (line feed, carriage return, end of file) are pixels.
TEST(PixelValues, PassUnchanged) {
    const Scene scene;
    TgaFields fields;
    fields.width = 4;
    fields.height = 1;
    scene.put("wall.tga", tga_header(fields) + bytes({0x0A, 0x0D, 0x1A, 0x0D, 0x0A, 0x0A, 0x1A,
                                                      0x00, 0x0D, 0xFF, 0x00, 0x1A}));
    const std::string tpl = scene.put_template(4, 1);

    const ToolRun run = scene.run({"wall.tga"});

    EXPECT_EQ(run.output, progress_lines("wall.tga", 4, 1));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(scene.read("wall.m32"), m32_header_start("stone/wall.m32") + tpl.substr(256, 712) +
                                          bytes({0x1A, 0x0D, 0x0A, 0xFF, 0x0A, 0x0A, 0x0D, 0xFF,
                                                 0x0D, 0x00, 0x1A, 0xFF, 0x1A, 0x00, 0xFF, 0xFF}));
}

TEST(Template, OfExactly968BytesIsEnoughAndItsTailIsIgnored) {
    for (const std::size_t size : {std::size_t{968}, std::size_t{968 + 5000}}) {
        SCOPED_TRACE(size);
        const Scene scene;
        scene.put("wall.tga", classic_tga(2, 2));
        const std::string tpl = scene.put_template(2, 2, size);

        const ToolRun run = scene.run({"wall.tga"});

        EXPECT_EQ(run.output, progress_lines("wall.tga", 2, 2));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(scene.read("wall.m32"), m32_header_start("stone/wall.m32") +
                                              tpl.substr(256, 712) + classic_records(2, 2));
    }
}

// The same image with the same template, converted in two folders: only the header name and its
// zero fill may differ.
TEST(HeaderName, IsTheOnlyDifferenceBetweenFolders) {
    const Scene scene("stone");
    const Scene other("granite quarry", std::string("../tpl/\n"));
    scene.put("wall.tga", classic_tga(8, 4, 5));
    other.put("wall.tga", classic_tga(8, 4, 5));
    ASSERT_EQ(scene.put_template(8, 4), other.put_template(8, 4));

    const ToolRun first = scene.run({"wall.tga"});
    const ToolRun second = other.run({"wall.tga"});

    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(second.status, 0);
    EXPECT_EQ(first.output, second.output);
    const std::string a = scene.read("wall.m32");
    const std::string b = other.read("wall.m32");
    ASSERT_EQ(a.size(), 968u + 4 * 32);
    ASSERT_EQ(b.size(), a.size());
    EXPECT_EQ(a.substr(0, 256), m32_header_start("stone/wall.m32"));
    EXPECT_EQ(b.substr(0, 256), m32_header_start("granite quarry/wall.m32"));
    EXPECT_EQ(a.substr(256), b.substr(256));
}

// Large enough that the records go out in many blocks, with rows whose length divides neither the
// block nor the pieces the file is written in, and a row count that no block size divides.
TEST(LargeImage, ConvertsByteForByteAcrossManyBlocks) {
    const Scene scene;
    scene.put("big.tga", classic_tga(1100, 901, 5));
    const std::string tpl = scene.put_template(1100, 901);

    const ToolRun run = scene.run({"big.tga"});

    EXPECT_EQ(run.output, progress_lines("big.tga", 1100, 901));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(scene.read("big.m32"), m32_header_start("stone/big.m32") + tpl.substr(256, 712) +
                                         classic_records(1100, 901, 5));
}

}  // namespace
}  // namespace varnel::testing
