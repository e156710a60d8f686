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

std::string rle_encode(const std::string& pixels, unsigned pixel_bytes) {
    const std::size_t count = pixels.size() / pixel_bytes;
    const auto pixel = [&](std::size_t i) { return pixels.substr(i * pixel_bytes, pixel_bytes); };
    std::string out;
    std::size_t i = 0;
    while (i < count) {
        std::size_t run = 1;
        while (i + run < count && run < 128 && pixel(i + run) == pixel(i)) {
            ++run;
        }
        if (run >= 2) {
            out += static_cast<char>(0x80 | (run - 1));
            out += pixel(i);
            i += run;
            continue;
        }
        // A literal packet ends where a run of two begins.
        std::size_t literal = 1;
        while (i + literal < count && literal < 128 &&
               !(i + literal + 1 < count && pixel(i + literal) == pixel(i + literal + 1))) {
            ++literal;
        }
        out += static_cast<char>(literal - 1);
        out += pixels.substr(i * pixel_bytes, literal * pixel_bytes);
        i += literal;
    }
    return out;
}

std::string tga_footer(std::uint32_t extension_offset) {
    std::string footer;
    put16(footer, static_cast<std::uint16_t>(extension_offset & 0xFFFF));
    put16(footer, static_cast<std::uint16_t>(extension_offset >> 16));
    footer += std::string(4, '\0');
    footer += "TRUEVISION-XFILE.";
    footer += '\0';
    return footer;
}

std::string extension_area_and_footer(std::size_t file_size, std::uint8_t attributes_type) {
    std::string area(495, '\0');
    area[0] = static_cast<char>(495 & 0xFF);
    area[1] = static_cast<char>(495 >> 8);
    area[494] = static_cast<char>(attributes_type);
    return area + tga_footer(static_cast<std::uint32_t>(file_size));
}

}  // namespace varnel::testing
