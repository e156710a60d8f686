// Reading an in-memory TGA file through the reader the way the conversion does, so that tests can
// compare the records it yields with the records the format rules give.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tga/tga_format.hpp"
#include "tga_builder.hpp"

namespace varnel::unit {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    tga::Failure failure;
    tga::Header header;
    std::uint32_t rows_per_block = 0;
    Bytes records;  // R, G, B, A, top row first, left to right
};

enum class BlockOrder { TopFirst, BottomFirst };

// Reads the header, opens the image and asks for its rows `rows_per_call` at a time (0: as many
// as one block holds), in the given order of the requests.
Decoded decode(const std::string& file, std::uint32_t rows_per_call = 0,
               BlockOrder order = BlockOrder::TopFirst);

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
