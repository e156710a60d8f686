// The pixels of an M32 file: records of R, G, B, A, one byte each, row after row, top row first
// and left to right within a row.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel::m32 {

inline constexpr std::size_t kRecordBytes = 4;

// The order in which blocks of rows are made. Within a block the rows are always top row first.
enum class RowOrder {
    TopFirst,     // blocks from the top of the image down
    BottomFirst,  // blocks from the bottom up: RLE rows stored bottom first, decoded in one pass
};

}  // namespace varnel::m32
