#include "tga/tga_writer.hpp"

#include <algorithm>
#include <vector>

#include "m32/record.hpp"
#include "tga/pixel_convert.hpp"
#include "tga/tga_format.hpp"

namespace varnel::tga {

namespace {

void put_le16(std::uint8_t* at, std::uint32_t value) {
    at[0] = static_cast<std::uint8_t>(value & 0xFF);
    at[1] = static_cast<std::uint8_t>(value >> 8 & 0xFF);
}

}  // namespace

platform::OutputFile::Shape file_shape(std::uint16_t width, std::uint16_t height) {
    platform::OutputFile::Shape shape;
    shape.head.assign(kHeaderSize, 0);
    shape.head[2] = 2;
    put_le16(&shape.head[12], width);
    put_le16(&shape.head[14], height);
    shape.head[16] = 32;
    shape.head[17] = 8;

    std::vector<std::uint8_t> area(kExtensionSize, 0);
    // The area begins with its own size.
    put_le16(area.data(), kExtensionSize);
    const char software[] = "varnel";
    std::copy(software, software + sizeof software - 1, area.begin() + kSoftwareIdOffset);
    area[kAttributesTypeOffset] = kAttributesAlpha;

    // The footer holds the area's offset in 32 bits. Where the pixels reach beyond, the area goes
    // before them, in the colour map that a true-colour file may carry and readers skip: 32-bit
    // entries enough to hold it.
    std::uint64_t offset = kHeaderSize + std::uint64_t{width} * height * m32::kRecordBytes;
    if (offset > 0xFFFFFFFFu) {
        constexpr std::uint16_t kEntries = (kExtensionSize + 3) / 4;
        shape.head[1] = 1;
        put_le16(&shape.head[5], kEntries);
        shape.head[7] = 32;
        shape.head.insert(shape.head.end(), area.begin(), area.end());
        shape.head.resize(kHeaderSize + 4 * kEntries, 0);
        offset = kHeaderSize;
    } else {
        shape.tail = area;
    }
    std::uint8_t footer[kFooterSize] = {};
    put_le16(footer, static_cast<std::uint32_t>(offset & 0xFFFF));
    put_le16(footer + 2, static_cast<std::uint32_t>(offset >> 16));
    std::copy(kFooterSignature, kFooterSignature + sizeof kFooterSignature,
              footer + kFooterSignatureOffset);
    shape.tail.insert(shape.tail.end(), footer, footer + kFooterSize);
    return shape;
}

void pixels_from_records(const std::uint8_t* records, std::size_t count, std::uint8_t* pixels) {
    // Records and pixels differ only in the order of R and B, which the conversion of 32-bit
    // pixels into records exchanges.
    static const ColourMap kNoMap;
    convert_pixels(PixelKind::Bgra32, kNoMap, records, count, true, pixels);
}

}  // namespace varnel::tga
