// Writing an M32 file that appears whole or not at all (see platform/replacement.hpp). The writer
// plans the blocks: which rows each holds, in which order they come, where they go in the file.
// It hands out room for each block in its own buffer, so that records are made where they are
// written from, and writes the file in pieces that start at multiples of kWriteAlignment: the
// system keeps aligned pieces in whole pages of its cache, where the 968 bytes before the records
// would otherwise put every piece off the page boundaries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "m32/m32_layout.hpp"
#include "m32/record.hpp"
#include "platform/replacement.hpp"

namespace varnel::m32 {

// Records per block: about this many bytes of them, and at least one row.
inline constexpr std::size_t kBlockBytes = 512u << 10;
inline constexpr std::size_t kWriteAlignment = 64u << 10;

// One file at a time; a writer that has written one keeps its memory for the next.
class Writer {
public:
    enum class Opened { Yes, Refused, OutOfMemory };

    // Makes the new file for the output at `place`, an image of width x height records whose
    // blocks come in `order`. Refused when the output may not be made: a folder or other non-file
    // of that name, an existing file that may not be written, a folder where no new file can be
    // made. Nothing is written to an existing file.
    Opened open(const platform::OutputPlace& place, const HeaderStart& start,
                const TemplateBlock& block, std::uint16_t width, std::uint16_t height,
                RowOrder order);

    // With Opened::OutOfMemory: the bytes of memory asked for.
    std::uint64_t memory_requested() const;

    // Room for the next block of rows; empty once every row is committed, or after a failed write.
    Room room();

    // Takes the rows of the room handed out last, and writes every whole aligned piece there
    // is; false once any write has failed.
    bool commit();

    // Once every row is committed: writes the rest and puts the file in place of the output. False
    // when any of that fails; then the new file is gone and the output untouched.
    bool finish();

    // Removes the new file; the output is untouched.
    void discard();

private:
    bool write_piece(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n);
    std::uint32_t rows_left() const;

    platform::Replacement replacement_;
    RowOrder order_ = RowOrder::TopFirst;
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
    // after the block (from file offset `pending_offset_` to the end of the buffer). The last
    // block stays there with them, to go out in one piece with the header.
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t allocated_ = 0;
    std::size_t capacity_ = 0;  // the part of it in use for this file
    std::size_t pending_ = 0;
    std::uint64_t pending_offset_ = 0;
};

}  // namespace varnel::m32
