// Reading a TGA image as rows of R, G, B, A records, top row first, left to right, in blocks of
// rows, so that no image needs to be held whole.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "tga/pixel_convert.hpp"
#include "tga/rle.hpp"
#include "tga/source.hpp"
#include "tga/tga_format.hpp"

namespace varnel::tga {

struct Image {
    Source source;
    Layout layout;
    Palette palette;
    bool keep_alpha = false;           // false: every A is 255
    std::uint32_t rows_per_block = 0;  // the most rows one read_output_rows call may ask for
    // Stored pixels of one block of rows. Left uninitialised: every byte is read into before use,
    // and clearing it would cost a pass over memory that small images notice.
    std::unique_ptr<std::uint8_t[]> raw;
    std::vector<RleState> row_starts;  // RLE: the decoder's state at the start of each stored row
    RleState rle_next;                 // RLE: where the first pass has got to
    ForwardReader rle_in;
};

// Reads the 18-byte header; NotTga when the source is shorter than that.
Failure read_header(const Source& source, Header& header);

// Checks the image against its kind and the source's size, reads the colour map, decides the
// alpha, and for RLE data and colour indices makes one pass over the pixels, so that damage is
// found before any output is made. The image reads through source.bytes from then on.
Failure open_image(const Source& source, const Header& header, Image& image);

// Fills `rgba` with `count` (at most rows_per_block) rows of width records, starting at output
// row `first_row` (0 is the top row).
Failure read_output_rows(Image& image, std::uint32_t first_row, std::uint32_t count,
                         std::uint8_t* rgba);

}  // namespace varnel::tga
