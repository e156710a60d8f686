// Reading an in-memory TGA file through the reader the way the conversion does, so that tests can
// compare the records it yields with the records the format rules give.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tga/input.hpp"
#include "tga/tga_format.hpp"
#include "tga/tga_reader.hpp"
#include "tga_builder.hpp"

namespace varnel::unit {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    tga::Failure failure;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint32_t rows_per_call = 0;
    Bytes records;  // R, G, B, A, top row first, left to right
};

// The bytes of `file`, read as an input; the string must outlive it.
tga::Input memory_input(const std::string& file);

// Reads the header, prepares the image and asks for its rows `rows_per_call` at a time (0: as
// many as one of the writer's blocks holds), placing each block where the reader's row order
// says it goes.
Decoded decode(const std::string& file, std::uint32_t rows_per_call = 0);

// The same with a reader that may have read other images before.
Decoded decode_with(tga::Reader& reader, const std::string& file, std::uint32_t rows_per_call = 0);

// Header fields of a test image, and the same with a colour map (type 1: present).
testing::TgaFields image_fields(int type, int width, int height, int bits, int descriptor = 0);
testing::TgaFields with_map(testing::TgaFields fields, int first, int length, int entry_bits,
                            int map_type = 1);

// Byte values written as a list, for expected records and stored pixels.
Bytes bytes(std::initializer_list<int> values);
std::string file_bytes(std::initializer_list<int> values);

// "rr gg bb aa | ..." so that a failed comparison shows which record differs.
std::string records_text(const Bytes& records);

// Empty when equal; otherwise where the first record differs and what both hold there.
std::string first_difference(const Bytes& actual, const Bytes& expected);

}  // namespace varnel::unit
