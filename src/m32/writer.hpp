// Writing an M32 file that appears whole or not at all. Everything is written to a new file
// beside the output, which replaces the output by a rename only once it is complete; until then
// the output name keeps what it held.
//
// The writer hands out room for blocks of rows in its own buffer, so that records are made where
// they are written from. Blocks come from the top of the image down, or from the bottom up (the
// reader's row order), and the file is written in pieces that start at multiples of
// kWriteAlignment: the system stores aligned pieces in large pages of its cache, and the 968 bytes
// before the records would otherwise put every piece off the page boundaries (an 8192 x 8192
// conversion took about a tenth longer so).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "m32/m32_layout.hpp"
#include "platform/platform.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::m32 {

// Records per block: about this many bytes of them, and at least one row.
inline constexpr std::size_t kBlockBytes = 512u << 10;
inline constexpr std::size_t kWriteAlignment = 64u << 10;

struct Room {
    std::uint8_t* data = nullptr;
    std::size_t bytes = 0;  // whole rows
};

// One file at a time; a writer that has written one keeps its memory for the next.
class Writer {
public:
    enum class Opened { Yes, Refused, OutOfMemory };

    Writer() = default;
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;
    // A file that was never finished is removed, whatever path the run left by.
    ~Writer();

    // Makes the new file for the output `name`, an image of width x height records. Refused when
    // the output may not be made: a folder or other non-file of that name, an existing file that
    // may not be written, a folder where no new file can be made. Nothing is written to an
    // existing file.
    Opened open(const std::string& name, const HeaderStart& start, const TemplateBlock& block,
                std::uint16_t width, std::uint16_t height, tga::RowOrder order);

    // With Opened::OutOfMemory: the bytes of memory asked for.
    std::uint64_t memory_requested() const;

    std::uint32_t rows_left() const;

    // Room for the next block of rows, in output order within the block; empty when no rows are
    // left or after a failed write.
    Room room();

    // Takes the rows of the room handed out last, and writes every whole aligned piece there
    // is; false once any write has failed.
    bool commit();

    // Once every row is committed: writes the rest, gives the file the old output's mode (and
    // owner and group where the process may), closes it and moves it over the output. False
    // when any of that fails; then the new file is gone and the output untouched.
    bool finish();

    // Closes and removes the new file; the output is untouched.
    void discard();

private:
    bool create_temporary();
    bool write_piece(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n);
    std::uint32_t block_rows() const;

    std::string target_;     // where the finished file goes (a link's target, for links)
    std::string temporary_;  // where it is written meanwhile
    int tracked_ = -1;       // the slot that has an interruption remove it
    platform::File file_;
    platform::Existing existing_;
    tga::RowOrder order_ = tga::RowOrder::TopFirst;
    std::uint8_t head_[kPixelRecordsOffset] = {};  // header start and template block
    std::size_t row_bytes_ = 0;
    std::uint32_t rows_total_ = 0;
    std::uint32_t rows_done_ = 0;
    std::uint32_t rows_per_block_ = 0;
    std::uint32_t room_rows_ = 0;  // rows in the room handed out last
    bool failed_ = false;
    // Left uninitialised: only what was filled is written. It holds a block and the part of the
    // file next to it that is not yet written because it does not reach an aligned offset: for
    // blocks from the top down, the bytes at its start before the block (`pending_` of them,
    // from file offset `pending_offset_`); for blocks from the bottom up, the bytes at its end
    // after the block (from file offset `pending_offset_` to the end of the buffer).
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t allocated_ = 0;
    std::size_t capacity_ = 0;  // the part of it in use for this file
    std::size_t pending_ = 0;
    std::uint64_t pending_offset_ = 0;
};

}  // namespace varnel::m32
