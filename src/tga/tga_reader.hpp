// Reading a TGA image as rows of R, G, B, A records, top row first, left to right, a block of
// rows at a time, so that no image needs to be held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "tga/input.hpp"
#include "tga/pixel_convert.hpp"
#include "tga/rle.hpp"
#include "tga/tga_format.hpp"

namespace varnel::tga {

// The order in which the reader hands out blocks of rows. Within a block the rows are always in
// output order, top row first.
enum class RowOrder {
    TopFirst,     // blocks from the top of the image down
    BottomFirst,  // blocks from the bottom up: RLE rows stored bottom first, read in one pass
};

// One image at a time; a reader that has read one keeps its memory for the next.
class Reader {
public:
    // Reads the header; NotTga when the input is shorter than one.
    Failure open(const Input& input);

    std::uint16_t width() const;
    std::uint16_t height() const;

    // Checks the image against the kinds that are read and the input's size, obtains working
    // memory, reads the colour map and settles the alpha, which may need a first look at the
    // pixels. Rows can be read after that.
    Failure prepare();

    RowOrder row_order() const;

    // Rows of records still to be handed out; none when the image has no pixels.
    std::uint32_t rows_left() const;

    // Fills `bytes` bytes of records, whole rows of width records, with the next rows in
    // row_order(). The room must hold at least one row and no more rows than are left: anything
    // else is refused as Misuse and nothing is written to it. Damage found on the way (data that
    // ends early, an index outside the colour map) is reported as it is found.
    Failure read_rows(std::uint8_t* records, std::size_t bytes);

    // Reads all of the pixel data once more without making records and reports damage in it:
    // damage is reported before a failure on the output side, which is found later.
    Failure find_damage();

private:
    Failure allocate();
    Failure load_palette();
    Failure look_for_alpha(bool& any_alpha);
    template <typename RowCheck>
    Failure scan_stored_rows(RowCheck&& check);
    Failure convert_stored_rows(std::uint32_t first_row, std::uint32_t count,
                                std::uint8_t* records);
    Failure decode_rows(std::uint32_t count, std::uint8_t* records);
    Failure ends_early() const;
    std::uint64_t stored_row_bytes() const;
    std::size_t record_row_bytes() const;

    Input input_;
    Layout layout_;
    Palette palette_;
    bool keep_alpha_ = false;     // false: every A is 255
    bool check_indices_ = false;  // the colour map leaves entries undefined
    bool prepared_ = false;
    std::uint32_t rows_done_ = 0;
    // Stored pixels of a chunk of rows. Left uninitialised: every byte is read into before use,
    // and clearing it would cost a pass over memory that small images notice.
    std::unique_ptr<std::uint8_t[]> chunk_;
    std::uint64_t chunk_capacity_ = 0;
    std::uint32_t chunk_rows_ = 0;
    RleStream rle_;
};

}  // namespace varnel::tga
