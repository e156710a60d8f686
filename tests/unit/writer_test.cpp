#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "m32/m32_layout.hpp"
#include "platform/output_file.hpp"
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

HeaderStart test_start() {
    return *make_header_start("stone/wall.m32");
}

TemplateBlock test_block() {
    TemplateBlock block;
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + 1);
    }
    return block;
}

// Byte `i` of output row `row`: every row and every position in it differ, so that a lost,
// repeated or misplaced piece shows.
std::uint8_t record_byte(std::uint32_t row, std::size_t i) {
    return static_cast<std::uint8_t>(row * 131 + i * 7 + i / 251);
}

std::string expected_file(std::uint16_t width, std::uint16_t height) {
    const HeaderStart start = test_start();
    const TemplateBlock block = test_block();
    std::string bytes(start.begin(), start.end());
    bytes.append(block.begin(), block.end());
    const std::size_t row_bytes = std::size_t{width} * kRecordBytes;
    for (std::uint32_t row = 0; row < (row_bytes == 0 ? 0u : height); ++row) {
        for (std::size_t i = 0; i < row_bytes; ++i) {
            bytes += static_cast<char>(record_byte(row, i));
        }
    }
    return bytes;
}

using Writer = platform::OutputFile;
using platform::Room;

Writer::Opened open_at(Writer& writer, const fs::path& target, std::uint16_t width,
                       std::uint16_t height, RowOrder order) {
    platform::FolderKeys folders;
    platform::OutputFile::Shape shape;
    shape.head = file_head(test_start(), test_block());
    shape.row_bytes = std::size_t{width} * kRecordBytes;
    shape.rows = height;
    shape.from_the_end = order == RowOrder::BottomFirst;
    return writer.open(platform::stat_output(platform::Folder::current(), target.string(), folders),
                       shape);
}

bool finished(Writer& writer) {
    return writer.finish(platform::Existing::Replace) == platform::Put::Done;
}

// Fills every room the writer hands out with the rows it stands for, which must come as whole
// blocks in the order asked for.
bool write_all_rows(Writer& writer, std::uint16_t width, std::uint16_t height, RowOrder order) {
    const std::size_t row_bytes = std::size_t{width} * kRecordBytes;
    std::uint32_t done = 0;
    for (Room room; (room = writer.room()).rows > 0;) {
        const std::uint32_t first = order == RowOrder::TopFirst ? done : height - done - room.rows;
        if (room.first_row != first || room.rows > height - done) {
            return false;
        }
        for (std::uint32_t r = 0; r < room.rows; ++r) {
            for (std::size_t i = 0; i < row_bytes; ++i) {
                room.data[r * row_bytes + i] = record_byte(first + r, i);
            }
        }
        done += room.rows;
        if (!writer.commit()) {
            return false;
        }
    }
    return done == (row_bytes == 0 ? 0 : height);
}

// Sizes whose blocks and rows end at every kind of place against the aligned pieces the file is
// written in: none or one record, rows shorter and longer than a piece, the widest rows, a
// partial last block, files that end just before, at and after a piece's end.
TEST(Writer, FileIsTheHeaderThenEveryRowInPlaceInEitherOrder) {
    const struct {
        std::uint16_t width;
        std::uint16_t height;
    } sizes[] = {{0, 0},     {0, 9},      {9, 0},    {1, 1},     {3, 5},     {16142, 1},
                 {16143, 1}, {1000, 700}, {8192, 3}, {65535, 5}, {17, 4000}, {24330, 3}};
    for (const auto order : {RowOrder::TopFirst, RowOrder::BottomFirst}) {
        for (const auto& s : sizes) {
            SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height) +
                         (order == RowOrder::TopFirst ? ", top first" : ", bottom first"));
            TempFolder folder;
            const fs::path target = folder.path / "wall.m32";
            {
                Writer writer;
                ASSERT_EQ(open_at(writer, target, s.width, s.height, order), Writer::Opened::Yes);
                ASSERT_TRUE(write_all_rows(writer, s.width, s.height, order));
                EXPECT_FALSE(fs::exists(target)) << "the output appears only when finished";
                ASSERT_TRUE(finished(writer));
            }
            EXPECT_TRUE(read_bytes(target) == expected_file(s.width, s.height));
            EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
        }
    }
}

// A writer that has written one file writes the next as a new writer does, whatever the sizes,
// the order of the rows, and however the one before ended.
TEST(Writer, OneWriterWritesFileAfterFileAsANewOneDoes) {
    const struct {
        std::uint16_t width;
        std::uint16_t height;
        RowOrder order;
        bool finished;
    } files[] = {
        {1000, 700, RowOrder::BottomFirst, true}, {3, 5, RowOrder::TopFirst, true},
        {700, 1000, RowOrder::TopFirst, false},   {16143, 2, RowOrder::BottomFirst, true},
        {0, 0, RowOrder::TopFirst, true},         {9, 9, RowOrder::BottomFirst, true},
    };
    TempFolder folder;
    Writer writer;
    for (std::size_t i = 0; i < std::size(files); ++i) {
        const auto& f = files[i];
        SCOPED_TRACE(std::to_string(f.width) + "x" + std::to_string(f.height));
        const fs::path target = folder.path / ("file" + std::to_string(i) + ".m32");
        ASSERT_EQ(open_at(writer, target, f.width, f.height, f.order), Writer::Opened::Yes);
        if (!f.finished) {
            continue;
        }
        ASSERT_TRUE(write_all_rows(writer, f.width, f.height, f.order));
        ASSERT_TRUE(finished(writer));
        EXPECT_TRUE(read_bytes(target) == expected_file(f.width, f.height));
    }
    EXPECT_EQ(entries(folder.path).size(), std::size(files) - 1) << "the unfinished file is gone";
}

TEST(Writer, ReplacesAnExistingFileWholeAndKeepsItsMode) {
    const fs::perms modes[] = {
        fs::perms::owner_read | fs::perms::owner_write,
        fs::perms::owner_write,
        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_write |
            fs::perms::others_read,
    };
    for (const fs::perms mode : modes) {
        TempFolder folder;
        const fs::path target = folder.path / "wall.m32";
        write_bytes(target, std::string(10000, 'o'));
        fs::permissions(target, mode);
        const fs::perms before = fs::status(target).permissions();
        {
            Writer writer;
            ASSERT_EQ(open_at(writer, target, 3, 2, RowOrder::TopFirst), Writer::Opened::Yes);
            ASSERT_TRUE(write_all_rows(writer, 3, 2, RowOrder::TopFirst));
            ASSERT_TRUE(finished(writer));
        }
        EXPECT_EQ(static_cast<int>(fs::status(target).permissions()), static_cast<int>(before));
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_TRUE(read_bytes(target) == expected_file(3, 2));
        EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
    }
}

// A writer that is not finished, because the caller stopped or got its part wrong, leaves the
// output as it was and no new file: rows missing at the end, a commit with no room handed out.
TEST(Writer, UnfinishedOrMisusedLeavesTheOutputAndNoNewFile) {
    enum class End { Discard, Destruction, FinishWithRowsLeft, CommitWithoutRoom };
    const struct {
        const char* what;
        End end;
        bool target_exists;
    } cases[] = {
        {"discard, new output", End::Discard, false},
        {"destruction, existing output", End::Destruction, true},
        {"finish with rows left", End::FinishWithRowsLeft, true},
        {"commit without room", End::CommitWithoutRoom, false},
    };
    const std::string old_bytes = "old M32 bytes";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        const fs::path target = folder.path / "wall.m32";
        if (c.target_exists) {
            write_bytes(target, old_bytes);
        }
        {
            Writer writer;
            ASSERT_EQ(open_at(writer, target, 300, 1000, RowOrder::BottomFirst),
                      Writer::Opened::Yes);
            const Room room = writer.room();
            ASSERT_GT(room.rows, 0u);
            std::fill(room.data, room.data + room.rows * 300 * kRecordBytes, std::uint8_t{0x5A});
            ASSERT_TRUE(writer.commit());
            switch (c.end) {
                case End::Discard:
                    writer.discard();
                    EXPECT_EQ(entries(folder.path).size(), 0u);
                    break;
                case End::Destruction:
                    break;
                case End::FinishWithRowsLeft:
                    EXPECT_FALSE(finished(writer));
                    break;
                case End::CommitWithoutRoom:
                    EXPECT_FALSE(writer.commit());
                    EXPECT_FALSE(finished(writer));
                    break;
            }
        }
        if (c.target_exists) {
            EXPECT_EQ(read_bytes(target), old_bytes);
            EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
        } else {
            EXPECT_TRUE(entries(folder.path).empty());
        }
    }
}

TEST(Writer, RefusesAFolderAndAFileWithoutWritePermission) {
    const fs::perms read_only_modes[] = {
        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read,
        fs::perms::owner_read | fs::perms::owner_exec,
        fs::perms::none,
    };
    for (const fs::perms mode : read_only_modes) {
        TempFolder folder;
        const fs::path target = folder.path / "wall.m32";
        write_bytes(target, "keep me");
        fs::permissions(target, mode);
        {
            Writer writer;
            EXPECT_EQ(open_at(writer, target, 3, 2, RowOrder::TopFirst), Writer::Opened::Refused)
                << "mode " << std::oct << static_cast<int>(mode);
        }
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(read_bytes(target), "keep me");
        EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
    }
    TempFolder folder;
    const fs::path directory = folder.path / "wall.m32";
    fs::create_directory(directory);
    {
        Writer writer;
        EXPECT_EQ(open_at(writer, directory, 3, 2, RowOrder::TopFirst), Writer::Opened::Refused);
    }
    EXPECT_TRUE(fs::is_directory(directory));
    EXPECT_EQ(entries(folder.path), std::vector<std::string>{"wall.m32"});
}

// A new file that must not replace anything is not put in place of a file that took its name
// meanwhile: that file stays as it is and the new one goes.
TEST(Replacement, KeepingWhatExistsRefusesANameTakenMeanwhile) {
    for (const auto existing : {platform::Existing::Keep, platform::Existing::Replace}) {
        const bool keep_existing = existing == platform::Existing::Keep;
        TempFolder folder;
        const fs::path target = folder.path / "art.tga";
        platform::FolderKeys folders;
        platform::Replacement replacement;
        ASSERT_TRUE(replacement.begin(
            platform::stat_output(platform::Folder::current(), target.string(), folders)));
        const std::uint8_t bytes[] = {1, 2, 3};
        ASSERT_TRUE(replacement.file().write_at(0, bytes, sizeof bytes));
        write_bytes(target, "taken meanwhile");
        EXPECT_EQ(replacement.finish(existing),
                  keep_existing ? platform::Put::NameTaken : platform::Put::Done);
        EXPECT_EQ(read_bytes(target), keep_existing ? "taken meanwhile" : "\x01\x02\x03");
        EXPECT_EQ(entries(folder.path), std::vector<std::string>{"art.tga"});
    }
}

}  // namespace
}  // namespace varnel::m32
