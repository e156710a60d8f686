// Building TGA and template files byte by byte inside tests.
#pragma once

#include <cstdint>
#include <string>

namespace varnel::testing {

struct TgaFields {
    std::uint8_t id_length = 0;
    std::uint8_t colour_map_type = 0;
    std::uint8_t image_type = 2;
    std::uint16_t map_first_index = 0;
    std::uint16_t map_length = 0;
    std::uint8_t map_entry_bits = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t pixel_bits = 24;
    std::uint8_t descriptor = 0;
};

// The 18 header bytes for these fields.
std::string tga_header(const TgaFields& fields);

// A classic TGA: type 2, 24 bits, bottom row first; pixels B, G, R with byte values taken from
// a simple counter starting at `seed`, so that every pixel differs.
std::string classic_tga(std::uint16_t width, std::uint16_t height, unsigned seed = 1);

// A stand-in resolution template of `size` bytes (at least 968) whose bytes all differ from
// their neighbours, so that a shifted or partial copy of its header block shows.
std::string template_bytes(std::size_t size = 968 + 64, unsigned seed = 7);

// The M32 records (R, G, B, 255; top row first) that classic_tga(width, height, seed) converts to.
std::string classic_records(std::uint16_t width, std::uint16_t height, unsigned seed = 1);

// Run-length encodes `pixels` (each `pixel_bytes` long) as one stream, the way writers do it:
// runs of two or more equal pixels become repeat packets, the rest literal packets, each of at
// most 128 pixels; packets run on across rows.
std::string rle_encode(const std::string& pixels, unsigned pixel_bytes);

// The 26-byte TGA 2.0 footer: extension-area offset, a zero developer-area offset, the signature.
std::string tga_footer(std::uint32_t extension_offset);

// What to append to a file of `file_size` bytes to give it a TGA 2.0 extension area (495 bytes,
// zero except the attributes type at its byte 494) and the footer that points at it.
std::string extension_area_and_footer(std::size_t file_size, std::uint8_t attributes_type);

}  // namespace varnel::testing
