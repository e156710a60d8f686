#include "decode.hpp"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "tga/source.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::unit {

Decoded decode(const std::string& file, std::uint32_t rows_per_call, BlockOrder order) {
    Decoded result;
    std::stringbuf buffer(file, std::ios_base::in);
    tga::Source source;
    if (!tga::measure_source(buffer, source)) {
        result.failure = {tga::FailureKind::NotTga, "cannot be measured", 0};
        return result;
    }
    if ((result.failure = tga::read_header(source, result.header))) {
        return result;
    }
    tga::Image image;
    if ((result.failure = tga::open_image(source, result.header, image))) {
        return result;
    }
    result.rows_per_block = image.rows_per_block;
    const std::uint32_t height = result.header.height;
    const std::size_t row_bytes = std::size_t{result.header.width} * 4;
    const std::uint32_t step = rows_per_call == 0 ? image.rows_per_block : rows_per_call;
    result.records.assign(row_bytes * height, 0xEE);
    std::vector<std::uint32_t> firsts;
    for (std::uint32_t first = 0; first < height; first += step) {
        firsts.push_back(first);
    }
    if (order == BlockOrder::BottomFirst) {
        std::reverse(firsts.begin(), firsts.end());
    }
    for (const std::uint32_t first : firsts) {
        const std::uint32_t count = std::min(step, height - first);
        if ((result.failure = tga::read_output_rows(image, first, count,
                                                    result.records.data() + first * row_bytes))) {
            result.records.clear();
            return result;
        }
    }
    return result;
}

testing::TgaFields image_fields(int type, int width, int height, int bits, int descriptor) {
    testing::TgaFields f;
    f.image_type = static_cast<std::uint8_t>(type);
    f.width = static_cast<std::uint16_t>(width);
    f.height = static_cast<std::uint16_t>(height);
    f.pixel_bits = static_cast<std::uint8_t>(bits);
    f.descriptor = static_cast<std::uint8_t>(descriptor);
    return f;
}

testing::TgaFields with_map(testing::TgaFields fields, int first, int length, int entry_bits,
                            int map_type) {
    fields.colour_map_type = static_cast<std::uint8_t>(map_type);
    fields.map_first_index = static_cast<std::uint16_t>(first);
    fields.map_length = static_cast<std::uint16_t>(length);
    fields.map_entry_bits = static_cast<std::uint8_t>(entry_bits);
    return fields;
}

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (const int v : values) {
        out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

std::string file_bytes(std::initializer_list<int> values) {
    std::string out;
    for (const int v : values) {
        out += static_cast<char>(v);
    }
    return out;
}

std::string records_text(const Bytes& records) {
    std::string text;
    char hex[4];
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i > 0) {
            text += i % 4 == 0 ? " | " : " ";
        }
        std::snprintf(hex, sizeof hex, "%02x", records[i]);
        text += hex;
    }
    return text;
}

std::string first_difference(const Bytes& actual, const Bytes& expected) {
    if (actual == expected) {
        return {};
    }
    std::ostringstream text;
    if (actual.size() != expected.size()) {
        text << "size " << actual.size() << " instead of " << expected.size() << "; ";
    }
    const std::size_t n = std::min(actual.size(), expected.size());
    for (std::size_t i = 0; i < n; i += 4) {
        const Bytes a(actual.begin() + static_cast<std::ptrdiff_t>(i),
                      actual.begin() + static_cast<std::ptrdiff_t>(std::min(i + 4, n)));
        const Bytes e(expected.begin() + static_cast<std::ptrdiff_t>(i),
                      expected.begin() + static_cast<std::ptrdiff_t>(std::min(i + 4, n)));
        if (a != e) {
            text << "record " << i / 4 << ": " << records_text(a) << " instead of "
                 << records_text(e);
            break;
        }
    }
    return text.str();
}

}  // namespace varnel::unit
