#include "tga/tga_writer.hpp"

#include <algorithm>

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

    // The footer holds the area's offset in 32 bits: a file whose pixels reach beyond has none.
    const std::uint64_t area = kHeaderSize + std::uint64_t{width} * height * m32::kRecordBytes;
    if (area > 0xFFFFFFFFu) {
        return shape;
    }
    shape.tail.assign(kExtensionSize + kFooterSize, 0);
    std::uint8_t* tail = shape.tail.data();
    // The area begins with its own size.
    put_le16(tail, kExtensionSize);
    const char software[] = "varnel";
    std::copy(software, software + sizeof software - 1, tail + kSoftwareIdOffset);
    tail[kAttributesTypeOffset] = kAttributesAlpha;
    std::uint8_t* footer = tail + kExtensionSize;
    put_le16(footer, static_cast<std::uint32_t>(area & 0xFFFF));
    put_le16(footer + 2, static_cast<std::uint32_t>(area >> 16));
    std::copy(kFooterSignature, kFooterSignature + sizeof kFooterSignature,
              footer + kFooterSignatureOffset);
    return shape;
}

void pixels_from_records(const std::uint8_t* records, std::size_t count, std::uint8_t* pixels) {
    // Records and pixels differ only in the order of R and B, which the conversion of 32-bit
    // pixels into records exchanges.
    static const ColourMap kNoMap;
    convert_pixels(PixelKind::Bgra32, kNoMap, records, count, true, pixels);
}

}  // namespace varnel::tga
