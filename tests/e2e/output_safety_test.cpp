// The output appears whole or not at all, never replaces what it must not, and replaces what it
// may exactly.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <optional>

#include "scene.hpp"
#include "small_disk.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kFailed = 255;

struct TemplateSpelling {
    std::string name;
    std::string path_ini;
    std::string input;  // where the TGA is put and how it is named on the command line
    std::function<void(const Scene&)> setup;
};

void PrintTo(const TemplateSpelling& c, std::ostream* os) {
    *os << c.name;
}

std::string output_for(const std::string& input) {
    return input.substr(0, input.size() - 3) + "m32";
}

std::vector<TemplateSpelling> template_spellings() {
    const auto template_here = [](const Scene& s) { s.put("2x1.m32", template_bytes(968 + 8)); };
    return {
        {"SameName", "", "2x1.tga", template_here},
        {"PrefixWithDot", "./", "2x1.tga", template_here},
        {"InputWithDot", "", "./2x1.tga", template_here},
        {"PrefixThroughSubfolder", "sub/../", "2x1.tga",
         [=](const Scene& s) {
             template_here(s);
             fs::create_directory(s.dir() / "sub");
         }},
        {"InputThroughSubfolder", "", "sub/../2x1.tga",
         [=](const Scene& s) {
             template_here(s);
             fs::create_directory(s.dir() / "sub");
         }},
        {"InputInTheTemplateFolder", "../tpl/", "../tpl/2x1.tga",
         [](const Scene& s) { s.put_template(2, 1); }},
        {"AbsolutePrefix", "", "../tpl/2x1.tga",
         [](const Scene& s) {
             s.put_template(2, 1);
             s.put("path.ini", (fs::absolute(s.root()) / "tpl" / "").string());
         }},
        {"HardLink", "../tpl/", "same.tga",
         [](const Scene& s) {
             s.put_template(2, 1);
             fs::create_hard_link(s.root() / "tpl" / "2x1.m32", s.dir() / "same.m32");
         }},
        {"SymbolicLink", "../tpl/", "same.tga",
         [](const Scene& s) {
             s.put_template(2, 1);
             fs::create_symlink(fs::path("..") / "tpl" / "2x1.m32", s.dir() / "same.m32");
         }},
    };
}

class OutputIsTemplate : public ::testing::TestWithParam<TemplateSpelling> {};

TEST_P(OutputIsTemplate, IsRefusedAndTheTemplateKept) {
    const TemplateSpelling& c = GetParam();
    const Scene scene("stone", c.path_ini);
    try {
        c.setup(scene);
    } catch (const fs::filesystem_error& e) {
        GTEST_SKIP() << "this file system cannot make the link: " << e.what();
    }
    scene.put(c.input, classic_tga(2, 1));
    const Files before = scene.files();

    const ToolRun run = scene.run({c.input});

    EXPECT_EQ(run.output,
              progress_lines(c.input, 2, 1) +
                  line("Won't overwrite the resolution template " + output_for(c.input) + " !\n"));
    EXPECT_EQ(run.status, kFailed);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(scene.files(), before);
}

INSTANTIATE_TEST_SUITE_P(Spellings, OutputIsTemplate, ::testing::ValuesIn(template_spellings()),
                         case_name<TemplateSpelling>);

// Whether this process may write what permissions forbid: the administrator may, and then a
// read-only file or folder cannot make a run fail.
bool permissions_bind(const fs::path& read_only_folder) {
    std::ofstream probe(read_only_folder / "probe", std::ios::binary);
    if (probe) {
        probe.close();
        fs::remove(read_only_folder / "probe");
        return false;
    }
    return true;
}

TEST(OutputCannotBeWritten, ReadOnlyExistingOutputIsReportedAndKept) {
    // The mark is the missing write bits, whoever else may read the file.
    const struct {
        const char* what;
        fs::perms mode;
    } marks[] = {
        {"read-only for all",
         fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read},
        {"read-only for owner and group, closed to others",
         fs::perms::owner_read | fs::perms::group_read},
    };
    for (const auto& mark : marks) {
        SCOPED_TRACE(mark.what);
        const Scene scene;
        scene.put("wall.tga", classic_tga(2, 2));
        scene.put_template(2, 2);
        scene.put("wall.m32", "an earlier output, read-only");
        fs::permissions(scene.dir() / "wall.m32", mark.mode);
        // A file marked read-only is kept even by a user who could write it anyway (root): the
        // mark is the user's wish.
        const Files before = scene.files();

        const ToolRun run = scene.run({"wall.tga"});

        EXPECT_EQ(run.output,
                  progress_lines("wall.tga", 2, 2) + line("Error opening wall.m32 for writing.\n"));
        EXPECT_EQ(run.status, kFailed);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(scene.files(), before);
    }
}

// No new file can be made in the input's folder: its permissions forbid it, or, for a process
// they do not bind (root), it is a disk of its own mounted read-only.
TEST(OutputCannotBeWritten, FolderThatMayNotBeWrittenIsReportedAndNothingMade) {
    const Scene scene;
    scene.put("locked/wall.tga", classic_tga(2, 2));
    scene.put_template(2, 2);
    const fs::path locked = scene.dir() / "locked";
    const fs::perms write =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(locked, write, fs::perm_options::remove);
#ifdef __linux__
    std::optional<SmallDisk> disk;
#endif
    if (!permissions_bind(locked)) {
#ifdef __linux__
        fs::remove(locked / "wall.tga");
        disk.emplace(locked, "size=1m");
        if (!disk->mounted()) {
            GTEST_SKIP() << "this process may create files in a read-only folder (root), and "
                         << disk->why_not();
        }
        scene.put("locked/wall.tga", classic_tga(2, 2));
        ASSERT_TRUE(disk->make_read_only());
#else
        GTEST_SKIP() << "this process may create files in a read-only folder (a platform "
                        "without folder permissions): the check cannot fail here";
#endif
    }
    const Files before = scene.files();

    const ToolRun run = scene.run({"locked/wall.tga"});

    EXPECT_EQ(run.output, progress_lines("locked/wall.tga", 2, 2) +
                              line("Error opening locked/wall.m32 for writing.\n"));
    EXPECT_EQ(run.status, kFailed);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(scene.files(), before);
}

TEST(ExistingOutput, IsReplacedWholeByTheNewOutput) {
    const Scene scene;
    const std::string tga = classic_tga(2, 2);
    scene.put("wall.tga", tga);
    const std::string tpl = scene.put_template(2, 2);
    // Longer than the new output, so that a rewrite in place would leave its tail behind.
    scene.put("wall.m32", std::string(5000, '\x5A'));

    const ToolRun run = scene.run({"wall.tga"});

    EXPECT_EQ(run.output, progress_lines("wall.tga", 2, 2));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(scene.files(),
              (Files{{"stone/path.ini", "../tpl/"},
                     {"stone/wall.m32", m32_header_start("stone/wall.m32") + tpl.substr(256, 712) +
                                            classic_records(2, 2)},
                     {"stone/wall.tga", tga},
                     {"tpl/2x2.m32", tpl}}));
}

// 'tga.m32' holds "tga" and ends in "m32": it is read whole before its replacement is made.
TEST(ExistingOutput, InputNamedTgaM32ConvertsIntoItself) {
    const Scene scene;
    scene.put("tga.m32", classic_tga(3, 2, 40));
    const std::string tpl = scene.put_template(3, 2);

    const ToolRun run = scene.run({"tga.m32"});

    EXPECT_EQ(run.output, progress_lines("tga.m32", 3, 2));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(scene.files(),
              (Files{{"stone/path.ini", "../tpl/"},
                     {"stone/tga.m32", m32_header_start("stone/tga.m32") + tpl.substr(256, 712) +
                                           classic_records(3, 2, 40)},
                     {"tpl/3x2.m32", tpl}}));
}

}  // namespace
}  // namespace varnel::testing
