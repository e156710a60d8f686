// An output file of fixed rows: some bytes before them, the rows, some bytes after them. It
// appears whole or not at all (see replacement.hpp). The file plans the blocks of rows, which rows
// each holds and in which order they come, and hands out room for each in its own buffer, so that
// rows are made where they are written from; it writes in pieces that start at multiples of
// kWriteAlignment, since the system keeps aligned pieces in whole pages of its cache, where the
// bytes before the rows would otherwise put every piece off the page boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/replacement.hpp"

namespace varnel::platform {

// Rows per block: about this many bytes of them, and at least one row.
inline constexpr std::size_t kBlockBytes = 512u << 10;
inline constexpr std::size_t kWriteAlignment = 64u << 10;

// Room for a block of rows: rows first_row to first_row + rows - 1 of the file, in their order.
struct Room {
    std::uint8_t* data = nullptr;
    std::uint32_t first_row = 0;
    std::uint32_t rows = 0;
    std::size_t row_bytes = 0;
};

// One file at a time; an object that has written one keeps its memory for the next.
class OutputFile {
public:
    enum class Opened { Yes, Refused, OutOfMemory };

    // The bytes of a file: `head`, then `rows` rows of `row_bytes`, then `tail`.
    struct Shape {
        std::vector<std::uint8_t> head;
        std::vector<std::uint8_t> tail;
        std::size_t row_bytes = 0;
        std::uint32_t rows = 0;
        bool from_the_end = false;  // blocks from the last row back to the first
    };

    // Makes the new file for the output at `place`. Refused when the output may not be made: a
    // folder or other non-file of that name, an existing file that may not be written, a folder
    // where no new file can be made. Nothing is written to an existing file.
    Opened open(const OutputPlace& place, const Shape& shape);

    // With Opened::OutOfMemory: the bytes of memory asked for.
    std::uint64_t memory_requested() const;

    // Room for the next block of rows; empty once every row is committed, or after a failed write.
    Room room();

    // Takes the rows of the room handed out last, and writes every whole aligned piece there
    // is; false once any write has failed.
    bool commit();

    // Once every row is committed: writes the rest and puts the file in place of the output
    // (see Replacement::finish). Failed when any of that fails; then the new file is gone and
    // the output untouched.
    Put finish(Existing existing);

    // Removes the new file; the output is untouched.
    void discard();

private:
    bool write_piece(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n);
    std::uint32_t rows_left() const;

    Replacement replacement_;
    Shape shape_;
    std::uint32_t rows_done_ = 0;
    std::uint32_t rows_per_block_ = 0;
    std::uint32_t room_rows_ = 0;  // rows in the room handed out last
    bool failed_ = false;
    // Left uninitialised: only what was filled is written. It holds a block and the part of the
    // file next to it that is not yet written because it does not reach an aligned offset: for
    // blocks from the first row on, the bytes at its start before the block (`pending_` of them,
    // from file offset `pending_offset_`); for blocks from the last row back, the bytes at its end
    // after the block (from file offset `pending_offset_` to the end of the buffer). The last
    // block stays there with them, to go out in one piece with the head and the tail.
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t allocated_ = 0;
    std::size_t capacity_ = 0;  // the part of it in use for this file
    std::size_t pending_ = 0;
    std::uint64_t pending_offset_ = 0;
};

}  // namespace varnel::platform
