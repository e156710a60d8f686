// An output file that appears whole or not at all: everything is written to a new file beside
// the target, which replaces the target by a rename only once it is complete.
//
// The caller fills blocks in the output's own buffer, which are written to the file in pieces
// that start at multiples of kWriteAlignment: the system stores aligned pieces in large pages of
// its cache, and the 968 bytes before the records would otherwise put every piece off the page
// boundaries (an 8192 x 8192 conversion took about a tenth longer so).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace varnel::m32 {

inline constexpr std::size_t kDefaultBlockBytes = 512u << 10;
inline constexpr std::size_t kWriteAlignment = 64u << 10;

struct OutputFile {
    std::filesystem::path target;     // where the finished file goes (a link's target, for links)
    std::filesystem::path temporary;  // where it is written meanwhile
    std::filebuf file;
    bool keep_permissions = false;  // an existing target's permissions go to its replacement
    std::filesystem::perms permissions = std::filesystem::perms::none;
    bool committed = false;

    // Left uninitialised: only what the caller filled is written. Room for the unwritten tail
    // of the last piece (less than kWriteAlignment) and a block after it.
    std::unique_ptr<std::uint8_t[]> buffer;
    std::size_t block_bytes = 0;
    std::size_t pending = 0;  // bytes at the buffer's start not yet written to the file
    bool write_failed = false;

    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    // A file that was never committed is removed, whatever path the run left by.
    ~OutputFile();
};

// False when the output may not be made: the name is a directory or another non-file, an existing
// file may not be written, or no new file can be created in its folder. Nothing is written to
// an existing file.
bool open_output(OutputFile& output, const std::string& name,
                 std::size_t block_bytes = kDefaultBlockBytes);

// Room for block_bytes bytes, so that records can be made where they are written from.
std::uint8_t* block_to_fill(OutputFile& output);

// Adds the first n bytes of the block to the output, writing every whole aligned piece there is;
// false once any write has failed.
bool submit_block(OutputFile& output, std::size_t n);

bool write_output(OutputFile& output, const std::uint8_t* bytes, std::size_t n);

// Writes what is left, closes the new file and moves it over the target; false
// when any of that fails, and then the new file is gone and the target untouched.
bool commit_output(OutputFile& output);

// Closes and removes the new file; the target is untouched.
void discard_output(OutputFile& output);

}  // namespace varnel::m32
