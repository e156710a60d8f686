#include "tga_builder.hpp"

namespace varnel::testing {

namespace {

void put16(std::string& bytes, std::uint16_t value) {
    bytes += static_cast<char>(value & 0xFF);
    bytes += static_cast<char>(value >> 8);
}

char byte_at(unsigned seed, std::size_t i) {
    return static_cast<char>((seed + i * 7) & 0xFF);
}

}  // namespace

std::string tga_header(const TgaFields& f) {
    std::string h;
    h += static_cast<char>(f.id_length);
    h += static_cast<char>(f.colour_map_type);
    h += static_cast<char>(f.image_type);
    put16(h, f.map_first_index);
    put16(h, f.map_length);
    h += static_cast<char>(f.map_entry_bits);
    h += std::string(4, '\0');
    put16(h, f.width);
    put16(h, f.height);
    h += static_cast<char>(f.pixel_bits);
    h += static_cast<char>(f.descriptor);
    return h;
}

std::string classic_tga(std::uint16_t width, std::uint16_t height, unsigned seed) {
    TgaFields fields;
    fields.width = width;
    fields.height = height;
    std::string file = tga_header(fields);
    const std::size_t n = std::size_t{width} * height * 3;
    for (std::size_t i = 0; i < n; ++i) {
        file += byte_at(seed, i);
    }
    return file;
}

std::string template_bytes(std::size_t size, unsigned seed) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) {
        bytes += static_cast<char>((seed + i * 13 + i / 256) & 0xFF);
    }
    return bytes;
}

std::string classic_records(std::uint16_t width, std::uint16_t height, unsigned seed) {
    std::string records;
    for (std::size_t out_row = 0; out_row < height; ++out_row) {
        const std::size_t stored_row = height - 1 - out_row;
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t at = (stored_row * width + x) * 3;
            records += byte_at(seed, at + 2);
            records += byte_at(seed, at + 1);
            records += byte_at(seed, at);
            records += static_cast<char>(255);
        }
    }
    return records;
}

}  // namespace varnel::testing
