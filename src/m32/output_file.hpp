// An output file that appears whole or not at all: everything is written to a new file beside
// the target, which replaces the target by a rename only once it is complete.
//
// Writing goes through two blocks: while a background thread writes one to the file, the caller
// fills the other, so that reading and converting pixels overlap with the system's own work of
// storing them, which is most of a conversion's time.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace varnel::m32 {

inline constexpr std::size_t kDefaultBlockBytes = 512u << 10;

struct OutputFile {
    std::filesystem::path target;     // where the finished file goes (a link's target, for links)
    std::filesystem::path temporary;  // where it is written meanwhile
    std::filebuf file;                // while the writer runs, only the writer uses it
    bool keep_permissions = false;    // an existing target's permissions go to its replacement
    std::filesystem::perms permissions = std::filesystem::perms::none;
    bool committed = false;

    // Left uninitialised: only what the caller filled is written.
    std::unique_ptr<std::uint8_t[]> blocks[2];
    std::size_t block_bytes = 0;
    int filling = 0;  // the block the caller fills; the other is the writer's
    std::thread writer;
    std::mutex lock;  // guards what follows
    std::condition_variable changed;
    std::size_t queued_bytes = 0;  // bytes of the writer's block still to be written
    bool stop = false;
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
// With `in_background` false the caller writes each block itself: for outputs of a block or two,
// where starting a thread and waking a second processor costs more than it saves.
bool open_output(OutputFile& output, const std::string& name,
                 std::size_t block_bytes = kDefaultBlockBytes, bool in_background = true);

// Room for block_bytes bytes, so that records can be made where they are written from.
std::uint8_t* block_to_fill(OutputFile& output);

// Hands the first n bytes of the block over to be written, once the writer has finished the
// previous one; false once any write has failed.
bool submit_block(OutputFile& output, std::size_t n);

bool write_output(OutputFile& output, const std::uint8_t* bytes, std::size_t n);

// Waits for the last block, flushes and closes the new file and moves it over the target; false
// when any of that fails, and then the new file is gone and the target untouched.
bool commit_output(OutputFile& output);

// Stops writing, closes and removes the new file; the target is untouched.
void discard_output(OutputFile& output);

}  // namespace varnel::m32
