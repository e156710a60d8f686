// Many files in one run: every file's lines together and in the order of the names, whatever
// the number of workers; the status of the first file that failed; one output never written by
// two conversions at once.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <thread>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

constexpr int kFailed = 255;  // status -1 as the caller sees it

// A folder of texture files with every outcome: converted, damaged, missing, not a TGA name, no
// template for its size.
struct MixedSet {
    Scene scene;
    std::string wall_template;
    MixedSet() {
        scene.put("wall.tga", classic_tga(8, 4, 1));
        scene.put("floor.tga", classic_tga(8, 4, 2));
        scene.put("broken.tga", classic_tga(8, 4, 3).substr(0, 60));
        scene.put("odd.tga", classic_tga(5, 3, 4));
        scene.put("notes.txt", "not a texture");
        wall_template = scene.put_template(8, 4);
    }
    std::string converted(const std::string& output, unsigned seed) const {
        return m32_header_start("stone/" + output) + wall_template.substr(256, 712) +
               classic_records(8, 4, seed);
    }
};

TEST(Batch, EveryFileGivesItsOwnLinesInTheOrderOfTheNames) {
    const std::vector<std::string> names = {"wall.tga", "notes.txt", "broken.tga",
                                            "gone.tga", "odd.tga",   "floor.tga"};
    const std::string expected =
        progress_lines("wall.tga", 8, 4) + line("Error - No TGA-File !\n") +
        progress_lines("broken.tga", 8, 4) +
        line("broken.tga is damaged (pixel data ends early) !\n") +
        line("gone.tga does not exist !\n") + progress_lines("odd.tga", 5, 3) +
        line("Couldn't locate ../tpl/5x3.m32. Make sure it's in this dir.\n") +
        progress_lines("floor.tga", 8, 4);
    for (const std::string workers : {"1", "2", "4"}) {
        SCOPED_TRACE(workers + " at a time");
        const MixedSet set;
        Files expected_files = set.scene.files();
        expected_files["stone/wall.m32"] = set.converted("wall.m32", 1);
        expected_files["stone/floor.m32"] = set.converted("floor.m32", 2);
        std::vector<std::string> arguments = {"-j", workers};
        arguments.insert(arguments.end(), names.begin(), names.end());

        const ToolRun run = set.scene.run(arguments);

        EXPECT_EQ(run.output, expected);
        EXPECT_EQ(run.status, 1) << "the damaged file is the first that failed";
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(set.scene.files(), expected_files);
    }
}

TEST(Batch, StatusIsThatOfTheFirstFileThatFailed) {
    const struct {
        std::vector<std::string> names;
        int status;
    } cases[] = {
        {{"wall.tga", "notes.txt", "floor.tga"}, 0},
        {{"odd.tga", "broken.tga"}, kFailed},
        {{"floor.tga", "gone.tga", "odd.tga"}, 1},
    };
    for (const auto& c : cases) {
        const MixedSet set;
        EXPECT_EQ(set.scene.run(c.names).status, c.status) << c.names.front();
    }
}

// Names that lead to one output are converted one after another: the output ends as the later
// name's conversion, whole, however many workers there are. The earlier name's image is the
// larger, so that written at the same time its conversion would end last.
TEST(Batch, NamesOfOneOutputWriteItOneAfterAnother) {
    const Scene scene;
    scene.put("wall.tga", classic_tga(1024, 1024, 1));
    scene.put("wall.TGA", classic_tga(8, 4, 2));
    const std::string large = scene.put_template(1024, 1024);
    const std::string small = scene.put_template(8, 4);
    const std::string from_small =
        m32_header_start("stone/wall.m32") + small.substr(256, 712) + classic_records(8, 4, 2);
    const std::string from_dot =
        m32_header_start("stone/./wall.m32") + small.substr(256, 712) + classic_records(8, 4, 2);
    const struct {
        std::vector<std::string> names;
        std::string output;
    } cases[] = {
        {{"-j", "2", "wall.tga", "wall.TGA"}, from_small},
        {{"-j", "3", "wall.tga", "wall.tga", "./wall.TGA"}, from_dot},
    };
    const Files before = scene.files();
    for (const auto& c : cases) {
        const ToolRun run = scene.run(c.names);
        EXPECT_EQ(run.status, 0);
        Files expected = before;
        expected["stone/wall.m32"] = c.output;
        EXPECT_TRUE(scene.files() == expected) << c.names.back();
    }
}

// A run ends as if its files were converted one after another: two names of one output through
// different folders end as the later one writes it, and a file whose template an earlier file
// writes reads the template that file wrote.
TEST(Batch, FilesThatDependOnEachOtherKeepTheirOrder) {
    for (int run = 0; run < 10; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const Scene scene;
        scene.put("a.tga", classic_tga(16, 16, 3));
        // tpl/16x16.tga is a 32 x 32 image, whose output is the template a.tga needs.
        scene.put("../tpl/16x16.tga", classic_tga(32, 32, 4));
        const std::string large = scene.put_template(32, 32);
        scene.put_template(16, 16);
        EXPECT_EQ(scene.run({"-j", "2", "../tpl/16x16.tga", "a.tga"}).status, 0);
        const std::string a = scene.read("a.m32");
        EXPECT_TRUE(a.substr(256, 712) == large.substr(256, 712)) << "the old template was read";

#ifndef _WIN32
        std::filesystem::create_directory_symlink(".", scene.dir() / "same");
        EXPECT_EQ(scene.run({"-j", "2", "a.tga", "same/a.tga"}).status, 0);
        EXPECT_EQ(scene.read("a.m32").substr(0, 256), m32_header_start("stone/same/a.m32"));
#endif
    }
}

#ifndef _WIN32
// A 32-bit image whose alpha is 0 everywhere: its whole first look at the pixels comes before its
// template is read, which leaves a file that starts with it at the same time time to go first.
std::string slow_to_read_its_template() {
    TgaFields fields;
    fields.width = 2048;
    fields.height = 2048;
    fields.pixel_bits = 32;
    return tga_header(fields) + std::string(std::size_t{2048} * 2048 * 4, '\0');
}

// A template is the file it is, whatever link leads to it: a later file that replaces it waits
// until an earlier file has read it, and a file whose template an earlier file makes reads it
// once that file is done.
TEST(Batch, ATemplateReachedByALinkIsTheFileItLeadsTo) {
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const Scene scene;
        scene.put("a.tga", slow_to_read_its_template());
        scene.put("b.tga", classic_tga(4, 4, 5));
        const std::string small = scene.put_template(4, 4);
        const std::string old_b = template_bytes(968 + 16, 77);
        scene.put("b.m32", old_b);
        std::filesystem::create_symlink("../stone/b.m32", scene.root() / "tpl" / "2048x2048.m32");
        EXPECT_EQ(scene.run({"-j", "2", "a.tga", "b.tga"}).status, 0);
        EXPECT_TRUE(scene.read("a.m32").substr(256, 712) == old_b.substr(256, 712))
            << "a.tga read its template after b.tga had replaced it";
        EXPECT_TRUE(scene.read("b.m32").substr(256, 712) == small.substr(256, 712));
    }
    for (int run = 0; run < 5; ++run) {
        SCOPED_TRACE("made by an earlier file, run " + std::to_string(run));
        const Scene scene;
        scene.put("a.tga", slow_to_read_its_template());
        scene.put("b.tga", classic_tga(4, 4, 6));
        const std::string large = scene.put_template(2048, 2048);
        std::filesystem::create_symlink("../stone/a.m32", scene.root() / "tpl" / "4x4.m32");
        const ToolRun converted = scene.run({"-j", "2", "a.tga", "b.tga"});
        EXPECT_EQ(converted.output,
                  progress_lines("a.tga", 2048, 2048) + progress_lines("b.tga", 4, 4));
        EXPECT_EQ(converted.status, 0);
        EXPECT_TRUE(scene.read("b.m32").substr(256, 712) == large.substr(256, 712));
    }
}

// A template rewritten in place while a run converts, its size and time kept as a copy that
// keeps them leaves them, is read as it stands by every file begun after the change.
TEST(Batch, ATemplateRewrittenInPlaceIsReadAsItStands) {
    namespace fs = std::filesystem;
    const Scene scene;
    scene.put("a.tga", classic_tga(4096, 4096, 1));
    scene.put("b.tga", classic_tga(4096, 4096, 2));
    const std::string old_template = scene.put_template(4096, 4096);
    const fs::path template_file = scene.root() / "tpl" / "4096x4096.m32";
    const fs::file_time_type time = fs::last_write_time(template_file);
    const StartedVarnel child = scene.start({"-j", "1", "a.tga", "b.tga"});
    // a.tga's new file is made once its template is read.
    const auto making = [&] {
        for (const auto& entry : fs::directory_iterator(scene.dir())) {
            if (entry.path().extension() == ".tmp") {
                return true;
            }
        }
        return false;
    };
    while (!making()) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    const std::string new_template = template_bytes(old_template.size(), 123);
    {
        std::fstream rewritten(template_file, std::ios::in | std::ios::out | std::ios::binary);
        rewritten.write(new_template.data(), static_cast<std::streamsize>(new_template.size()));
    }
    fs::last_write_time(template_file, time);
    int status = 0;
    ::waitpid(child.pid, &status, 0);
    ::close(child.output);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(scene.read("a.m32").substr(256, 712) == old_template.substr(256, 712));
    EXPECT_TRUE(scene.read("b.m32").substr(256, 712) == new_template.substr(256, 712));
}
#endif

TEST(Batch, AMissingPathIniIsReportedOnceAndNothingConverted) {
    const MixedSet set;
    std::filesystem::remove(set.scene.dir() / "path.ini");
    const Files before = set.scene.files();

    const ToolRun run = set.scene.run({"notes.txt", "wall.tga", "floor.tga", "gone.tga"});

    EXPECT_EQ(run.output, line("Error - No TGA-File !\n") + line("Couldn't find path.ini !\n"));
    EXPECT_EQ(run.status, kFailed);
    EXPECT_EQ(set.scene.files(), before);
}

// Only these exact arguments are options; the help and the version end the run at once.
TEST(Batch, OptionsAreOnlyTheseExactArguments) {
    const std::string title = "TGA to M32 Converter " VARNEL_VERSION "\n";
    const struct {
        std::vector<std::string> arguments;
        std::string output_start;
    } cases[] = {
        {{"--help"}, title + "\nUsage: varnel TARGAFILE\n"},
        {{"wall.tga", "-h"}, title + "\nUsage: varnel TARGAFILE\n"},
        {{"--version", "--help"}, title},
        {{"-j"}, "Error - No TGA-File !\n"},
        {{"-j", "0"}, "Error - No TGA-File !\nError - No TGA-File !\n"},
        {{"-j2"}, "Error - No TGA-File !\n"},
        {{"--HELP"}, "Error - No TGA-File !\n"},
        {{"-j", "3"}, title + "\nUsage: varnel TARGAFILE\n"},
    };
    for (const auto& c : cases) {
        const MixedSet set;
        const Files before = set.scene.files();
        const ToolRun run = set.scene.run(c.arguments);
        EXPECT_EQ(run.output.substr(0, text_lines(c.output_start).size()),
                  text_lines(c.output_start))
            << c.arguments.front();
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(set.scene.files(), before);
    }
    const Scene scene;
    const ToolRun help = scene.run({"--help"});
    EXPECT_NE(help.output.find(text_lines("  -j N ")), std::string::npos);
    EXPECT_EQ(scene.run({"--version"}).output, text_lines(title));
}

}  // namespace
}  // namespace varnel::testing
