// TGA files made from M32 records: type 2, 32 bits a pixel, 8 alpha bits, rows stored bottom row
// first (the format's default, which readers that ignore the origin bit read right too), pixels
// B, G, R, A. A TGA 2.0 extension area says the alpha bytes are alpha, so that alpha that is 0
// everywhere reads back as it is, and the file converts back to the records it was made from:
// after the pixels, or in a file whose pixels pass 4 GiB, which the footer's offset cannot reach
// beyond, before them in a colour map that true-colour readers skip.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/output_file.hpp"

namespace varnel::tga {

// The bytes before and after the pixels of a TGA file of width x height pixels, whose rows are
// stored bottom row first.
platform::OutputFile::Shape file_shape(std::uint16_t width, std::uint16_t height);

// `count` records as TGA pixels.
void pixels_from_records(const std::uint8_t* records, std::size_t count, std::uint8_t* pixels);

}  // namespace varnel::tga
