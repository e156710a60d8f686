#include "tga/tga_reader.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace varnel::tga {

namespace {

// Output bytes per block of rows: large enough that reads and writes go in big pieces, small
// enough that a block and its stored pixels stay in the processor's cache between the read, the
// conversion and the write.
constexpr std::uint64_t kBlockOutputBytes = 512u << 10;
constexpr std::size_t kRleWindowBytes = 256u << 10;

// TGA 2.0 footer, the file's last 26 bytes:
//   0  4 bytes  extension-area offset (0: none)
//   4  4 bytes  developer-area offset
//   8  18 bytes "TRUEVISION-XFILE." and a zero byte
// Byte 494 of the extension area (495 bytes at least) is the attributes type: 0 no alpha,
// 1 undefined (may be ignored), 2 undefined (keep), 3 alpha, 4 pre-multiplied alpha.
constexpr std::uint64_t kFooterSize = 26;
constexpr char kFooterSignature[18] = "TRUEVISION-XFILE.";
constexpr std::uint64_t kExtensionMinSize = 495;
constexpr std::uint64_t kAttributesTypeOffset = 494;

bool extension_says_no_alpha(const Source& source) {
    std::uint8_t footer[kFooterSize];
    if (source.size < kFooterSize ||
        !read_at(source, source.size - kFooterSize, footer, kFooterSize) ||
        std::memcmp(footer + 8, kFooterSignature, sizeof kFooterSignature) != 0) {
        return false;
    }
    const std::uint64_t offset = std::uint64_t{footer[0]} | std::uint64_t{footer[1]} << 8 |
                                 std::uint64_t{footer[2]} << 16 | std::uint64_t{footer[3]} << 24;
    std::uint8_t attributes = 3;
    if (offset == 0 || offset > source.size || kExtensionMinSize > source.size - offset ||
        !read_at(source, offset + kAttributesTypeOffset, &attributes, 1)) {
        return false;
    }
    return attributes <= 2;
}

std::uint64_t row_bytes(const Layout& layout) {
    return std::uint64_t{layout.header.width} * layout.pixel_bytes;
}

Failure ends_early(const Layout& layout) {
    return damaged(layout.rle ? "RLE data ends early" : "pixel data ends early");
}

// Reads `count` uncompressed stored rows from stored row `first` on into image.raw.
Failure read_stored_rows(Image& image, std::uint32_t first, std::uint32_t count) {
    const Layout& layout = image.layout;
    const std::uint64_t bytes = row_bytes(layout);
    if (!read_at(image.source, layout.pixel_offset + first * bytes, image.raw.get(),
                 static_cast<std::size_t>(count * bytes))) {
        return ends_early(layout);
    }
    return {};
}

// The first pass over RLE rows: notes where each row starts, decoding the rows into image.raw
// with `keep`, and otherwise only finding where they end.
Failure scan_rle_rows(Image& image, std::uint32_t first, std::uint32_t count, bool keep) {
    const Layout& layout = image.layout;
    const std::uint64_t bytes = row_bytes(layout);
    for (std::uint32_t i = 0; i < count; ++i) {
        image.row_starts[first + i] = image.rle_next;
        std::uint8_t* row = keep ? image.raw.get() + i * bytes : nullptr;
        if (!decode_rle(image.rle_in, image.source, layout.pixel_bytes, image.rle_next, row,
                        layout.header.width)) {
            return ends_early(layout);
        }
    }
    return {};
}

// The first pass: every RLE row located and complete, every index inside the colour map, and
// whether any pixel has an alpha other than 0. Pixels are looked at only while a question is
// open; uncompressed data is then left unread, RLE data only has its packets counted.
Failure scan_pixels(Image& image, bool check_indices, bool check_alpha, bool& any_alpha) {
    const Layout& layout = image.layout;
    const std::uint32_t height = layout.header.height;
    const std::size_t width = layout.header.width;
    const std::uint64_t bytes = row_bytes(layout);
    image.rle_next.offset = layout.pixel_offset;
    any_alpha = false;
    for (std::uint32_t first = 0; first < height; first += image.rows_per_block) {
        const std::uint32_t count = std::min(image.rows_per_block, height - first);
        const bool look = check_indices || (check_alpha && !any_alpha);
        if (!look && !layout.rle) {
            break;
        }
        if (Failure f = layout.rle ? scan_rle_rows(image, first, count, look)
                                   : read_stored_rows(image, first, count)) {
            return f;
        }
        for (std::uint32_t i = 0; look && i < count; ++i) {
            const std::uint8_t* row = image.raw.get() + i * bytes;
            if (check_indices &&
                !all_indices_present(layout.pixel_kind, image.palette, row, width)) {
                return damaged("colour index outside the colour map");
            }
            if (check_alpha && !any_alpha) {
                any_alpha = any_visible_alpha(layout.pixel_kind, image.palette, row, width);
            }
        }
    }
    return {};
}

Failure load_palette(Image& image) {
    const Layout& layout = image.layout;
    std::vector<std::uint8_t> entries(std::size_t{layout.header.map_length} *
                                      layout.map_entry_bytes);
    if (!read_at(image.source, layout.map_offset, entries.data(), entries.size())) {
        return damaged("colour map ends early");
    }
    image.palette = build_palette(layout, entries.data());
    return {};
}

void make_opaque(Palette& palette) {
    for (std::size_t i = 3; i < palette.rgba.size(); i += 4) {
        palette.rgba[i] = 255;
    }
}

Failure allocate_buffers(Image& image) {
    const Layout& layout = image.layout;
    const std::uint64_t out_row = std::uint64_t{layout.header.width} * 4;
    const std::uint64_t rows =
        out_row == 0 ? 1 : std::max<std::uint64_t>(1, kBlockOutputBytes / out_row);
    const std::uint64_t height = std::max<std::uint64_t>(1, layout.header.height);
    image.rows_per_block = static_cast<std::uint32_t>(std::min(rows, height));
    const std::uint64_t raw_bytes = image.rows_per_block * row_bytes(layout);
    const std::uint64_t index_count = layout.rle ? layout.header.height : 0;
    const std::uint64_t palette_bytes = layout.mapped ? 65536u * 5 : 0;
    const std::uint64_t window_bytes = layout.rle ? kRleWindowBytes : 0;
    try {
        image.raw.reset(new std::uint8_t[static_cast<std::size_t>(raw_bytes)]);
        image.row_starts.resize(static_cast<std::size_t>(index_count));
        image.rle_in = make_forward_reader(static_cast<std::size_t>(window_bytes));
    } catch (const std::bad_alloc&) {
        return {FailureKind::OutOfMemory,
                {},
                raw_bytes + index_count * sizeof(RleState) + palette_bytes + window_bytes};
    }
    return {};
}

// RLE rows are made into records straight from the packets, without the stored pixels in between.
Failure decode_output_rows(Image& image, std::uint32_t stored_first, std::uint32_t count,
                           std::uint8_t* rgba) {
    const Layout& layout = image.layout;
    const std::size_t width = layout.header.width;
    const RecordFormat format{layout.pixel_kind, &image.palette, image.keep_alpha};
    RleState state = image.row_starts[stored_first];
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t at = layout.top_down ? i : count - 1 - i;
        std::uint8_t* out = rgba + std::size_t{at} * width * 4;
        if (!decode_rle_records(image.rle_in, image.source, format, state, out, width)) {
            return ends_early(layout);
        }
        if (layout.right_to_left) {
            mirror_records(out, width);
        }
    }
    return {};
}

Failure convert_stored_rows(Image& image, std::uint32_t stored_first, std::uint32_t count,
                            std::uint8_t* rgba) {
    const Layout& layout = image.layout;
    if (Failure f = read_stored_rows(image, stored_first, count)) {
        return f;
    }
    const std::size_t width = layout.header.width;
    const std::uint64_t bytes = row_bytes(layout);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t stored = layout.top_down ? i : count - 1 - i;
        std::uint8_t* out = rgba + std::size_t{i} * width * 4;
        convert_pixels(layout.pixel_kind, image.palette, image.raw.get() + stored * bytes, width,
                       image.keep_alpha, out);
        if (layout.right_to_left) {
            mirror_records(out, width);
        }
    }
    return {};
}

}  // namespace

Failure read_header(const Source& source, Header& header) {
    std::uint8_t bytes[kHeaderSize];
    if (!read_at(source, 0, bytes, kHeaderSize)) {
        return {FailureKind::NotTga, "shorter than a TGA header", 0};
    }
    header = parse_header(bytes);
    return {};
}

Failure open_image(const Source& source, const Header& header, Image& image) {
    image = Image{};
    image.source = source;
    Layout& layout = image.layout;
    if (Failure f = describe_layout(header, source.size, layout)) {
        return f;
    }
    if (Failure f = allocate_buffers(image)) {
        return f;
    }
    if (layout.mapped) {
        try {
            if (Failure f = load_palette(image)) {
                return f;
            }
        } catch (const std::bad_alloc&) {
            return {FailureKind::OutOfMemory, {}, 65536u * 5};
        }
    }
    const bool alpha_source =
        carries_alpha(layout.mapped ? layout.map_entry_kind : layout.pixel_kind);
    const bool alpha_wanted = alpha_source && !extension_says_no_alpha(image.source);
    const bool check_indices = layout.mapped && !palette_is_whole(image.palette);
    bool any_alpha = false;
    if (layout.pixel_count > 0 && (layout.rle || check_indices || alpha_wanted)) {
        if (Failure f = scan_pixels(image, check_indices, alpha_wanted, any_alpha)) {
            return f;
        }
    }
    // An alpha channel that is 0 everywhere was never filled in: the image is opaque.
    image.keep_alpha = alpha_wanted && any_alpha;
    if (layout.mapped && !image.keep_alpha) {
        make_opaque(image.palette);
    }
    return {};
}

Failure read_output_rows(Image& image, std::uint32_t first_row, std::uint32_t count,
                         std::uint8_t* rgba) {
    const Layout& layout = image.layout;
    const std::uint32_t height = layout.header.height;
    if (count > image.rows_per_block || first_row > height || count > height - first_row) {
        return damaged("rows outside the image");
    }
    if (count == 0) {
        return {};
    }
    const std::uint32_t stored_first = layout.top_down ? first_row : height - first_row - count;
    return layout.rle ? decode_output_rows(image, stored_first, count, rgba)
                      : convert_stored_rows(image, stored_first, count, rgba);
}

}  // namespace varnel::tga
