// Reading a TGA image as rows of R, G, B, A records, top row first, left to right, a block of
// rows at a time, so that no image needs to be held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "m32/record.hpp"
#include "tga/colour_map.hpp"
#include "tga/input.hpp"
#include "tga/rle.hpp"
#include "tga/tga_format.hpp"

namespace varnel::tga {

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

    // The order the rows can be had in: RLE rows only as they are stored.
    m32::RowOrder row_order() const;

    // Makes rows first_row to first_row + count - 1 of the image, top row first, into `records`.
    // Damage found on the way (data that ends early, an index outside the colour map) is reported
    // as it is found. RLE rows must be the next ones of the stream in row_order(); rows out of that
    // order, or outside the image, are refused and nothing is made.
    Failure read_rows(std::uint32_t first_row, std::uint32_t count, std::uint8_t* records);

    // Reads all of the pixel data once more without making records and reports damage in it:
    // damage is reported before a failure on the output side, which is found later.
    Failure find_damage();

private:
    Failure allocate();
    Failure load_colour_map();
    Failure look_for_alpha(bool& any_alpha);
    template <typename RowCheck>
    Failure scan_stored_rows(RowCheck&& check);
    Failure convert_stored_rows(std::uint32_t first_row, std::uint32_t count,
                                std::uint8_t* records);
    Failure decode_rows(std::uint32_t count, std::uint8_t* records);
    bool read_stored(std::uint32_t first, std::uint32_t count);
    Failure ends_early() const;
    std::uint64_t stored_row_bytes() const;
    std::size_t record_row_bytes() const;

    Input input_;
    Layout layout_;
    ColourMap map_;
    bool keep_alpha_ = false;     // false: every A is 255
    bool check_indices_ = false;  // the colour map leaves entries undefined
    // Stored pixels of a chunk of rows. Left uninitialised: every byte is read into before use,
    // and clearing it would cost a pass over memory that small images notice.
    std::unique_ptr<std::uint8_t[]> chunk_;
    std::uint64_t chunk_capacity_ = 0;
    std::uint32_t chunk_rows_ = 0;
    std::uint32_t chunk_first_ = 0;  // the stored rows the chunk holds
    std::uint32_t chunk_held_ = 0;
    RleStream rle_;
};

}  // namespace varnel::tga
