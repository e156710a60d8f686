// Conformance with TGA files written by a real paint program: every file of the corpus converts to
// exactly its expected pixels, or is refused where the corpus says it must be.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "scene.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> split_tabs(const std::string& text) {
    std::vector<std::string> fields;
    std::istringstream in(text);
    std::string field;
    while (std::getline(in, field, '\t')) {
        fields.push_back(field);
    }
    return fields;
}

unsigned le16_at(const std::string& data, std::size_t at) {
    return static_cast<unsigned char>(data[at]) + 256u * static_cast<unsigned char>(data[at + 1]);
}

TEST(Corpus, EveryFileConvertsToItsExpectedPixels) {
    const fs::path corpus = VARNEL_CORPUS_DIR;
    if (!fs::exists(corpus / "corpus.tsv")) {
        GTEST_SKIP() << "no TGA corpus at " << corpus.string()
                     << " (set VARNEL_CORPUS_DIR to check conformance)";
    }
    std::ifstream list(corpus / "corpus.tsv", std::ios::binary);
    std::string row;
    std::getline(list, row);
    ASSERT_EQ(split_tabs(row).at(0), "file") << "corpus.tsv has no header line";
    int checked = 0;
    while (std::getline(list, row)) {
        if (!row.empty() && row.back() == '\r') {
            row.pop_back();
        }
        if (row.empty()) {
            continue;
        }
        SCOPED_TRACE(row);
        const std::vector<std::string> fields = split_tabs(row);
        ASSERT_GE(fields.size(), 4u);
        const std::string& name = fields[0];
        const std::string tga = read_bytes(corpus / name);
        ASSERT_GE(tga.size(), 18u);
        const unsigned width = le16_at(tga, 12);
        const unsigned height = le16_at(tga, 14);

        const Scene scene;
        scene.put(name, tga);
        const std::string tpl = scene.put_template(width, height);
        const std::string output_name = name.substr(0, name.size() - 3) + "m32";
        const Files before = scene.files();

        const ToolRun run = scene.run({name});

        EXPECT_EQ(run.errors, "");
        if (fields[3] == "error") {
            const std::string progress = progress_lines(name, width, height);
            EXPECT_TRUE(
                is_refusal(run.output, progress, name, "is damaged") ||
                is_refusal(run.output, progress, name, "uses a TGA variant that is not supported"))
                << run.output;
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(scene.files(), before);
        } else {
            EXPECT_EQ(fields[1], std::to_string(width));
            EXPECT_EQ(fields[2], std::to_string(height));
            EXPECT_EQ(run.output, progress_lines(name, width, height));
            EXPECT_EQ(run.status, 0);
            const std::string output = scene.read(output_name);
            const std::string expected = read_bytes(corpus / fields[3]);
            ASSERT_EQ(expected.size(), 4u * width * height);
            ASSERT_EQ(output.size(), 968 + expected.size());
            EXPECT_EQ(output.substr(0, 968),
                      m32_header_start("stone/" + output_name) + tpl.substr(256, 712));
            // A mismatch over thousands of bytes is reported by its first differing pixel.
            const std::string records = output.substr(968);
            if (records != expected) {
                std::size_t at = 0;
                while (records[at] == expected[at]) {
                    ++at;
                }
                ADD_FAILURE() << "pixel " << at / 4 << " (x " << at / 4 % width << ", y "
                              << at / 4 / width << ") differs at byte " << at % 4;
            }
        }
        ++checked;
    }
    EXPECT_GT(checked, 0) << "corpus.tsv lists no files";
}

}  // namespace
}  // namespace varnel::testing
