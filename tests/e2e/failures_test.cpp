// Every way a run can fail, each checked for its exact output, its status and for leaving the
// folders exactly as they were: no output file, no temporary file, an existing output untouched.
#include <gtest/gtest.h>

#include <functional>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kFailed = 255;  // status -1 as the caller sees it

struct FailureCase {
    std::string name;
    std::function<void(const Scene&)> setup;
    std::vector<std::string> arguments;
    std::string expected_output;  // the whole output, or the progress lines before a refusal
    int status;
    // Empty: the output must equal `expected_output`. Otherwise the kind of refusal
    // ("is damaged", ...) that must follow the progress lines.
    std::string refusal = {};
    // Where a file is put for a second run, which the failure must leave unchanged: an earlier
    // output where one would lie, or what a folder of the output's name holds.
    std::string output_name = {};
    std::string dir_name = "stone";
};

void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

void classic_input(const Scene& scene) {
    scene.put("wall.tga", classic_tga(2, 2));
    scene.put_template(2, 2);
}

const std::string kLocateMessage = "Couldn't locate ../tpl/2x2.m32. Make sure it's in this dir.\n";

std::vector<FailureCase> failure_cases() {
    const std::string wall = progress_lines("wall.tga", 2, 2);
    std::vector<FailureCase> cases = {
        {"NoTgaInName",
         [](const Scene& s) { s.put("photo.Tga", classic_tga(2, 2)); },
         {"photo.Tga"},
         line("Error - No TGA-File !\n"),
         0,
         "",
         "photo.m32"},
        {"NoTgaInNameIsTestedBeforePathIni",
         [](const Scene& s) { fs::remove(s.dir() / "path.ini"); },
         {"photo.bmp"},
         line("Error - No TGA-File !\n"),
         0,
         "",
         "photo.m32"},
        {"NoTgaInMixedCase", [](const Scene&) {}, {"TgA.tGa"}, line("Error - No TGA-File !\n"), 0},
        {"NoPathIni",
         [](const Scene& s) {
             classic_input(s);
             fs::remove(s.dir() / "path.ini");
         },
         {"wall.tga"},
         line("Couldn't find path.ini !\n"),
         kFailed,
         "",
         "wall.m32"},
        {"PathIniIsADirectory",
         [](const Scene& s) {
             classic_input(s);
             fs::remove(s.dir() / "path.ini");
             fs::create_directory(s.dir() / "path.ini");
         },
         {"wall.tga"},
         line("Couldn't find path.ini !\n"),
         kFailed,
         "",
         "wall.m32"},
        {"NoPathIniIsReportedBeforeAMissingInput",
         [](const Scene& s) { fs::remove(s.dir() / "path.ini"); },
         {"missing.tga"},
         line("Couldn't find path.ini !\n"),
         kFailed},
        {"InputMissing",
         [](const Scene&) {},
         {"missing.tga"},
         line("missing.tga does not exist !\n"),
         1,
         "",
         "missing.m32"},
        {"InputMissingInSubfolder",
         [](const Scene&) {},
         {"sub/missing.tga"},
         line("sub/missing.tga does not exist !\n"),
         1},
        {"TemplateMissing",
         [](const Scene& s) { s.put("wall.tga", classic_tga(2, 2)); },
         {"wall.tga"},
         wall + line(kLocateMessage),
         kFailed,
         "",
         "wall.m32"},
        {"TemplateOfAnotherSizeOnly",
         [](const Scene& s) {
             s.put("wall.tga", classic_tga(2, 2));
             s.put_template(2, 3);
             s.put_template(3, 2);
         },
         {"wall.tga"},
         wall + line(kLocateMessage),
         kFailed,
         "",
         "wall.m32"},
        // Empty, the folder could be removed to make way; holding a file, it could be emptied.
        {"OutputIsADirectory",
         [](const Scene& s) {
             classic_input(s);
             fs::create_directory(s.dir() / "wall.m32");
         },
         {"wall.tga"},
         wall + line("Error opening wall.m32 for writing.\n"),
         kFailed,
         "",
         "wall.m32/inside"},
        {"EmptyFileIsNotATga",
         [](const Scene& s) { s.put("wall.tga", ""); },
         {"wall.tga"},
         line("Processing wall.tga\nwall.tga is not a TGA file !\n"),
         1,
         "",
         "wall.m32"},
        {"FileOf15BytesIsNotATga",
         [](const Scene& s) { s.put("wall.tga", classic_tga(2, 2).substr(0, 15)); },
         {"wall.tga"},
         line("Processing wall.tga\nwall.tga is not a TGA file !\n"),
         1,
         "",
         "wall.m32"},
        {"FileOf17BytesIsNotATga",
         [](const Scene& s) {
             s.put("wall.tga", classic_tga(2, 2).substr(0, 17));
             s.put_template(2, 2);
         },
         {"wall.tga"},
         line("Processing wall.tga\nwall.tga is not a TGA file !\n"),
         1,
         "",
         "wall.m32"},
        {"DirectoryIsNotATga",
         [](const Scene& s) { fs::create_directories(s.dir() / "dir.tga" / "inner"); },
         {"dir.tga"},
         line("Processing dir.tga\ndir.tga is not a TGA file !\n"),
         1,
         "",
         "dir.m32"},
        {"PixelDataOneByteShort",
         [](const Scene& s) {
             const std::string tga = classic_tga(2, 2);
             s.put("wall.tga", tga.substr(0, tga.size() - 1));
             s.put_template(2, 2);
         },
         {"wall.tga"},
         wall,
         1,
         "is damaged",
         "wall.m32"},
        {"HeaderOnly",
         [](const Scene& s) {
             s.put("wall.tga", classic_tga(2, 2).substr(0, 18));
             s.put_template(2, 2);
         },
         {"wall.tga"},
         wall,
         1,
         "is damaged",
         "wall.m32"},
        // The size alone would need 12.9 GB: refused from the file's size, before any buffer.
        {"HugeHeaderOnSmallFile",
         [](const Scene& s) {
             TgaFields f;
             f.width = 65535;
             f.height = 65535;
             s.put("big.tga", tga_header(f) + std::string(100, '\x40'));
         },
         {"big.tga"},
         progress_lines("big.tga", 65535, 65535),
         1,
         "is damaged",
         "big.m32"},
        {"TemplateOfNoBytes",
         [](const Scene& s) {
             s.put("wall.tga", classic_tga(2, 2));
             s.put_template(2, 2, 0);
         },
         {"wall.tga"},
         wall + line("../tpl/2x2.m32 is too short to be a resolution template !\n"),
         kFailed,
         "",
         "wall.m32"},
        {"TemplateOf967Bytes",
         [](const Scene& s) {
             s.put("wall.tga", classic_tga(2, 2));
             s.put_template(2, 2, 967);
         },
         {"wall.tga"},
         wall + line("../tpl/2x2.m32 is too short to be a resolution template !\n"),
         kFailed,
         "",
         "wall.m32"},
        // stone/ + 90 characters + .m32: one character over the header name's limit.
        {"HeaderNameOf100Characters",
         [](const Scene& s) {
             s.put(std::string(90, 'a') + ".tga", classic_tga(2, 2));
             s.put_template(2, 2);
         },
         {std::string(90, 'a') + ".tga"},
         progress_lines(std::string(90, 'a') + ".tga", 2, 2) +
             line("Header name stone/" + std::string(90, 'a') +
                  ".m32 is longer than 99 characters !\n"),
         kFailed,
         "",
         std::string(90, 'a') + ".m32"},
        {"HeaderNameTooLongThroughTheFolderName",
         classic_input,
         {"wall.tga"},
         wall + line("Header name " + std::string(95, 'd') +
                     "/wall.m32 is longer than 99 characters !\n"),
         kFailed,
         "",
         "wall.m32",
         std::string(95, 'd')},
    };
    return cases;
}

class Failure : public ::testing::TestWithParam<FailureCase> {};

void expect_failure(const Scene& scene, const FailureCase& c) {
    const Files before = scene.files();
    const ToolRun run = scene.run(c.arguments);
    if (c.refusal.empty()) {
        EXPECT_EQ(run.output, c.expected_output);
    } else {
        EXPECT_TRUE(is_refusal(run.output, c.expected_output, c.arguments.front(), c.refusal))
            << run.output;
    }
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(scene.files(), before);
}

TEST_P(Failure, PrintsOneMessageAndLeavesEveryFileAsItWas) {
    const FailureCase& c = GetParam();
    const Scene scene(c.dir_name);
    c.setup(scene);
    {
        SCOPED_TRACE("without an existing output");
        expect_failure(scene, c);
    }
    if (!c.output_name.empty()) {
        SCOPED_TRACE("with " + c.output_name + " there");
        scene.put(c.output_name, "an earlier output, which must survive");
        expect_failure(scene, c);
    }
}

INSTANTIATE_TEST_SUITE_P(Run, Failure, ::testing::ValuesIn(failure_cases()),
                         case_name<FailureCase>);

TEST(Banner, NoArgumentPrintsTheBannerAndUsage) {
    const Scene scene("stone", std::nullopt);
    const ToolRun run = scene.run({});
    EXPECT_EQ(run.output, text_lines("TGA to M32 Converter " VARNEL_VERSION "\n\n"
                                     "Usage: varnel TARGAFILE\n\n"
                                     "Supported Resolutions (32bpp):\n"
                                     "16x16, 16x32, 32x16, 32x32, 32x64, 64x32, 64x64\n"
                                     "64x128, 128x64, 128x128, 256x256, 512x512\n\n"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_TRUE(scene.files().empty());
}

}  // namespace
}  // namespace varnel::testing
