#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "harness.hpp"
#include "reference.hpp"

namespace varnel::fuzzing {
namespace {

namespace fs = std::filesystem;

std::vector<fs::path> files_in(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::uint8_t> bytes_of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Files whose names start with "refuse-" are inputs that must be refused; all others must convert.
bool must_refuse(const fs::path& file) {
    return file.filename().string().rfind("refuse-", 0) == 0;
}

void expect_outcome(const fs::path& file, bool refused) {
    SCOPED_TRACE(file.filename().string());
    const std::vector<std::uint8_t> bytes = bytes_of(file);
    EXPECT_EQ(check_reader(bytes.data(), bytes.size()),
              refused ? ReadOutcome::Refused : ReadOutcome::Read);
    EXPECT_EQ(check_conversion(bytes.data(), bytes.size()),
              refused ? ConversionOutcome::Refused : ConversionOutcome::Converted);
}

TEST(FuzzReplay, SeedsPassEveryCheck) {
    const std::vector<fs::path> seeds = files_in(fs::path(VARNEL_FUZZ_DIR) / "seeds");
    ASSERT_GE(seeds.size(), 20u);
    for (const fs::path& seed : seeds) {
        expect_outcome(seed, must_refuse(seed));
    }
}

TEST(FuzzReplay, SavedFaultsAndHostileInputsPassEveryCheck) {
    const std::vector<fs::path> saved = files_in(fs::path(VARNEL_FUZZ_DIR) / "regressions");
    ASSERT_GE(saved.size(), 20u);
    for (const fs::path& file : saved) {
        expect_outcome(file, must_refuse(file));
    }
}

// The reference decoder that the fuzzers trust must itself give the corpus's known pixels, and
// every corpus file must pass the same checks as a fuzzer's input.
TEST(FuzzReplay, ConformanceCorpusPassesEveryCheck) {
    const fs::path corpus = VARNEL_CORPUS_DIR;
    if (!fs::exists(corpus / "corpus.tsv")) {
        GTEST_SKIP() << "no TGA corpus at " << corpus.string();
    }
    std::ifstream table(corpus / "corpus.tsv");
    std::string line;
    std::getline(table, line);
    int rows = 0;
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string file, width, height, expected;
        std::getline(fields, file, '\t');
        std::getline(fields, width, '\t');
        std::getline(fields, height, '\t');
        std::getline(fields, expected, '\t');
        SCOPED_TRACE(file);
        const std::vector<std::uint8_t> bytes = bytes_of(corpus / file);
        const bool refused = expected == "error";
        const Decoded reference = decode_reference(bytes.data(), bytes.size(), kRecordLimit);
        if (refused) {
            EXPECT_NE(reference.verdict, Verdict::Readable);
        } else {
            ASSERT_TRUE(reference.have_records);
            EXPECT_TRUE(reference.records == bytes_of(corpus / expected));
        }
        expect_outcome(corpus / file, refused);
        ++rows;
    }
    EXPECT_GT(rows, 0);
}

}  // namespace
}  // namespace varnel::fuzzing
