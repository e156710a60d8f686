#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "m32/output_file.hpp"
#include "tool_runner.hpp"

namespace varnel::m32 {
namespace {

namespace fs = std::filesystem;
using testing::read_bytes;
using testing::TempFolder;
using testing::write_bytes;

// Every entry of the folder, hidden ones and folders included, sorted.
std::vector<std::string> entries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Several blocks and many of the pieces the file is written in, with every byte value, so that a
// lost, repeated or reordered piece shows.
std::string payload() {
    std::string bytes;
    for (std::size_t i = 0; i < (5u << 20) / 2 + 123; ++i) {
        bytes += static_cast<char>((i * 31 + i / 4096) & 0xFF);
    }
    return bytes;
}

bool write_in_pieces(OutputFile& output, const std::string& bytes) {
    const std::size_t pieces[] = {1, 255, 4096, 1u << 20, (1u << 20) + 1, 3};
    std::size_t at = 0;
    for (std::size_t i = 0; at < bytes.size(); ++i) {
        const std::size_t n = std::min(pieces[i % 6], bytes.size() - at);
        if (!write_output(output, reinterpret_cast<const std::uint8_t*>(bytes.data()) + at, n)) {
            return false;
        }
        at += n;
    }
    return true;
}

TEST(OutputFile, CommitCreatesTheFileWhole) {
    TempFolder folder;
    const fs::path target = folder.path / "wall.m32";
    const std::string bytes = payload();
    {
        OutputFile output;
        ASSERT_TRUE(open_output(output, target.string()));
        ASSERT_TRUE(write_in_pieces(output, bytes));
        EXPECT_FALSE(fs::exists(target)) << "the target appears only on commit";
        ASSERT_TRUE(commit_output(output));
    }
    EXPECT_TRUE(read_bytes(target) == bytes);
    EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
}

// Blocks filled in place, of sizes that keep the unwritten tail at every kind of length: none,
// one byte, one byte short of a piece, a whole block at once.
TEST(OutputFile, BlocksFilledInPlaceArriveInOrderWhateverTheirSizes) {
    constexpr std::size_t kBlock = 100000;
    const std::size_t sizes[] = {968,    4400, 1,      kWriteAlignment - 4401, kWriteAlignment,
                                 kBlock, 3,    kBlock, kWriteAlignment - 1,    0,
                                 70000,  1};
    TempFolder folder;
    const fs::path target = folder.path / "wall.m32";
    std::string expected;
    {
        OutputFile output;
        ASSERT_TRUE(open_output(output, target.string(), kBlock));
        for (std::size_t round = 0; round < 3; ++round) {
            for (const std::size_t n : sizes) {
                std::uint8_t* block = block_to_fill(output);
                for (std::size_t i = 0; i < n; ++i) {
                    block[i] = static_cast<std::uint8_t>((expected.size() + i) * 7 + i / 256);
                }
                expected.append(reinterpret_cast<const char*>(block), n);
                ASSERT_TRUE(submit_block(output, n)) << n;
            }
        }
        EXPECT_FALSE(submit_block(output, kBlock + 1)) << "more than a block";
        ASSERT_TRUE(commit_output(output));
    }
    EXPECT_EQ(read_bytes(target).size(), expected.size());
    EXPECT_TRUE(read_bytes(target) == expected);
}

TEST(OutputFile, CommitReplacesAnExistingFileWholeAndKeepsItsPermissions) {
    const fs::perms modes[] = {
        fs::perms::owner_read | fs::perms::owner_write,
        fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read,
        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_write |
            fs::perms::others_read,
    };
    const std::string bytes = "\x04\x00\x00\x00" + std::string("new content\r\n\x1A");
    for (const fs::perms mode : modes) {
        TempFolder folder;
        const fs::path target = folder.path / "wall.m32";
        write_bytes(target, std::string(10000, 'o'));
        fs::permissions(target, mode);
        const fs::perms before = fs::status(target).permissions();
        {
            OutputFile output;
            ASSERT_TRUE(open_output(output, target.string()));
            ASSERT_TRUE(write_output(output, reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                     bytes.size()));
            EXPECT_EQ(read_bytes(target), std::string(10000, 'o')) << "changed before commit";
            ASSERT_TRUE(commit_output(output));
        }
        EXPECT_EQ(read_bytes(target), bytes);
        EXPECT_EQ(static_cast<int>(fs::status(target).permissions()), static_cast<int>(before));
        EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
    }
}

TEST(OutputFile, WithoutCommitTheTargetIsUntouchedAndNoTemporaryStays) {
    enum class End { Discard, Destruction, DiscardThenDestruction };
    const struct {
        const char* what;
        End end;
        bool target_exists;
    } cases[] = {
        {"discard, new target", End::Discard, false},
        {"discard, existing target", End::Discard, true},
        {"destruction, new target", End::Destruction, false},
        {"destruction, existing target", End::Destruction, true},
        {"discard then destruction", End::DiscardThenDestruction, true},
    };
    const std::string old_bytes = "old M32 bytes";
    const std::string bytes = payload();
    for (const auto& c : cases) {
        TempFolder folder;
        const fs::path target = folder.path / "wall.m32";
        if (c.target_exists) {
            write_bytes(target, old_bytes);
        }
        {
            OutputFile output;
            ASSERT_TRUE(open_output(output, target.string())) << c.what;
            ASSERT_TRUE(write_in_pieces(output, bytes)) << c.what;
            if (c.end != End::Destruction) {
                discard_output(output);
                EXPECT_EQ(entries(folder.path).size(), c.target_exists ? 1u : 0u) << c.what;
            }
        }
        if (c.target_exists) {
            EXPECT_EQ(read_bytes(target), old_bytes) << c.what;
            EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"}) << c.what;
        } else {
            EXPECT_TRUE(entries(folder.path).empty()) << c.what;
        }
    }
}

TEST(OutputFile, RefusesADirectoryAndAFileWithoutWritePermission) {
    const fs::perms read_only_modes[] = {
        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
        fs::perms::owner_read,
        fs::perms::owner_read | fs::perms::owner_exec,
        fs::perms::none,
    };
    for (const fs::perms mode : read_only_modes) {
        TempFolder folder;
        const fs::path target = folder.path / "wall.m32";
        write_bytes(target, "keep me");
        fs::permissions(target, mode);
        {
            OutputFile output;
            EXPECT_FALSE(open_output(output, target.string()))
                << "mode " << std::oct << static_cast<int>(mode);
        }
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(read_bytes(target), "keep me");
        EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
    }
    TempFolder folder;
    const fs::path directory = folder.path / "wall.m32";
    fs::create_directory(directory);
    write_bytes(directory / "inside", "x");
    {
        OutputFile output;
        EXPECT_FALSE(open_output(output, directory.string()));
    }
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_EQ(entries(directory), std::vector<std::string>{"inside"});
    EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
}

}  // namespace
}  // namespace varnel::m32
