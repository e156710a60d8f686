#include "decode.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sstream>

#include "m32/record.hpp"
#include "platform/output_file.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::unit {

tga::Input memory_input(const std::string& file) {
    const auto read = [](const void* context, std::uint64_t offset, std::uint8_t* out,
                         std::size_t n) {
        const auto& bytes = *static_cast<const std::string*>(context);
        const std::size_t take = static_cast<std::size_t>(
            std::min<std::uint64_t>(n, offset < bytes.size() ? bytes.size() - offset : 0));
        std::memcpy(out, bytes.data() + offset, take);
        return take;
    };
    return {file.size(), read, &file};
}

Decoded decode(const std::string& file, std::uint32_t rows_per_call) {
    tga::Reader reader;
    return decode_with(reader, file, rows_per_call);
}

Decoded decode_with(tga::Reader& reader, const std::string& file, std::uint32_t rows_per_call) {
    Decoded result;
    if ((result.failure = reader.open(memory_input(file)))) {
        return result;
    }
    result.width = reader.width();
    result.height = reader.height();
    if ((result.failure = reader.prepare())) {
        return result;
    }
    const std::size_t row_bytes = std::size_t{result.width} * m32::kRecordBytes;
    const std::uint32_t height = row_bytes == 0 ? 0 : result.height;
    result.rows_per_call = rows_per_call > 0
                               ? rows_per_call
                               : static_cast<std::uint32_t>(std::clamp<std::size_t>(
                                     row_bytes == 0 ? 1 : platform::kBlockBytes / row_bytes, 1,
                                     std::max<std::size_t>(1, height)));
    result.records.assign(row_bytes * height, 0xEE);
    const bool bottom_first = reader.row_order() == m32::RowOrder::BottomFirst;
    for (std::uint32_t done = 0; done < height;) {
        const std::uint32_t count = std::min(result.rows_per_call, height - done);
        const std::uint32_t first = bottom_first ? height - done - count : done;
        if ((result.failure =
                 reader.read_rows(first, count, result.records.data() + first * row_bytes))) {
            result.records.clear();
            return result;
        }
        done += count;
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
