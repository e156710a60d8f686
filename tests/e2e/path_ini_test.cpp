// How path.ini becomes the template prefix. The message for a missing template shows the
// template path exactly, so it shows the prefix too.
#include <gtest/gtest.h>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

struct PrefixCase {
    std::string name;
    std::string path_ini;
    std::string prefix;
};

void PrintTo(const PrefixCase& c, std::ostream* os) {
    *os << c.name;
}

std::vector<PrefixCase> prefix_cases() {
    using namespace std::string_literals;
    const std::string long_line(150, 'p');
    return {
        {"NoLineEnd", "tpl/", "tpl/"},
        {"LineFeedRemoved", "tpl/\n", "tpl/"},
        {"CarriageReturnLineFeedRemoved", "tpl/\r\n", "tpl/"},
        {"OnlyTheFirstLine", "tpl/\nother/\n", "tpl/"},
        {"OnlyOneLineFeedRemoved", "tpl/\n\n", "tpl/"},
        {"LoneCarriageReturnKept", "tpl/\r", "tpl/\r"},
        {"CarriageReturnInsideKept", "tp\rl/\n", "tp\rl/"},
        {"CarriageReturnBeforeCrLfKept", "tpl/\r\r\n", "tpl/\r"},
        {"CtrlZEndsTheFile", "tpl/\x1Aother", "tpl/"},
        {"CtrlZAfterCarriageReturn", "tpl/\r\x1A\n", "tpl/\r"},
        {"ZeroByteEndsThePrefix", "tp\0l/\n"s, "tp"},
        {"SpacesKept", " tpl / \n", " tpl / "},
        {"LongerThan99Characters", long_line + "\n", long_line},
        {"EmptyFile", "", ""},
        {"OnlyALineFeed", "\n", ""},
        {"OnlyCtrlZ", "\x1Atpl/", ""},
        {"EmptyFirstLineOfTwo", "\r\ntpl/\r\n", ""},
    };
}

class Prefix : public ::testing::TestWithParam<PrefixCase> {};

TEST_P(Prefix, IsTheFrontOfTheTemplatePath) {
    const PrefixCase& c = GetParam();
    const Scene scene("stone", c.path_ini);
    scene.put("wall.tga", classic_tga(2, 2));
    const Files before = scene.files();

    const ToolRun run = scene.run({"wall.tga"});

    EXPECT_EQ(run.output,
              progress_lines("wall.tga", 2, 2) +
                  line("Couldn't locate " + c.prefix + "2x2.m32. Make sure it's in this dir.\n"));
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(scene.files(), before);
}

INSTANTIATE_TEST_SUITE_P(PathIni, Prefix, ::testing::ValuesIn(prefix_cases()),
                         case_name<PrefixCase>);

// path.ini files as editors save them all find the template.
TEST(PathIni, AsEditorsSaveItFindsTheTemplate) {
    const std::string long_folder(120, 't');
    const struct {
        std::string path_ini;
        std::string template_folder;  // beside the current directory
    } cases[] = {
        {"../tpl/\n", "tpl"},
        {"../tpl/\r\n", "tpl"},
        {"../tpl/\r\n\x1A", "tpl"},
        {"../tpl/\nnotes\n", "tpl"},
        {"../my templates/\r\n", "my templates"},
        {"../" + long_folder + "/\n", long_folder},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path_ini);
        const Scene scene("stone", c.path_ini);
        scene.put("wall.tga", classic_tga(2, 2));
        const std::string tpl = template_bytes(968 + 16, 99);
        scene.put("../" + c.template_folder + "/2x2.m32", tpl);

        const ToolRun run = scene.run({"wall.tga"});

        EXPECT_EQ(run.output, progress_lines("wall.tga", 2, 2));
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(scene.read("wall.m32"), m32_header_start("stone/wall.m32") +
                                              tpl.substr(256, 712) + classic_records(2, 2));
    }
}

TEST(PathIni, EmptyPrefixFindsTheTemplateInTheCurrentDirectory) {
    const Scene scene("stone", std::string());
    scene.put("wall.tga", classic_tga(2, 2));
    const std::string tpl = template_bytes(968 + 16, 42);
    scene.put("2x2.m32", tpl);

    const ToolRun run = scene.run({"wall.tga"});

    EXPECT_EQ(run.output, progress_lines("wall.tga", 2, 2));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(scene.read("wall.m32"),
              m32_header_start("stone/wall.m32") + tpl.substr(256, 712) + classic_records(2, 2));
}

}  // namespace
}  // namespace varnel::testing
