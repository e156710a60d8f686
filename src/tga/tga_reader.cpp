#include "tga/tga_reader.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace varnel::tga {

namespace {

// Stored pixels are read in chunks of whole rows of about this size: large enough that reads go
// in big pieces, small enough that a chunk and the records made from it stay in the processor's
// cache between the read, the conversion and the write.
constexpr std::uint64_t kChunkBytes = 512u << 10;
constexpr std::size_t kRleWindowBytes = 256u << 10;

// What the extension area says of the alpha bytes.
enum class AlphaSaid { Nothing, NotAlpha, Alpha };

AlphaSaid extension_attributes(const Input& input) {
    std::uint8_t footer[kFooterSize];
    if (input.size < kFooterSize ||
        !read_exact(input, input.size - kFooterSize, footer, kFooterSize) ||
        std::memcmp(footer + kFooterSignatureOffset, kFooterSignature, sizeof kFooterSignature) !=
            0) {
        return AlphaSaid::Nothing;
    }
    // Only an area that lies wholly before the footer; one that runs into it is no area.
    const std::uint64_t offset = load_le32(footer);
    const std::uint64_t end = input.size - kFooterSize;
    std::uint8_t attributes = 0;
    if (offset == 0 || offset > end || kExtensionSize > end - offset ||
        !read_exact(input, offset + kAttributesTypeOffset, &attributes, 1)) {
        return AlphaSaid::Nothing;
    }
    return attributes <= 2   ? AlphaSaid::NotAlpha
           : attributes <= 4 ? AlphaSaid::Alpha
                             : AlphaSaid::Nothing;
}

using m32::kRecordBytes;

Failure index_outside_map() {
    return damaged("colour index outside the colour map");
}

// What a look at one stored row decides.
enum class Scan { Continue, Stop, Damaged };

}  // namespace

Failure Reader::open(const Input& input) {
    // A new image; the buffers stay for it to use.
    input_ = input;
    layout_ = Layout{};
    keep_alpha_ = false;
    check_indices_ = false;
    chunk_held_ = 0;
    rle_.forget();
    std::uint8_t bytes[kHeaderSize];
    if (!read_exact(input_, 0, bytes, kHeaderSize)) {
        return {FailureKind::NotTga, "shorter than a TGA header", 0};
    }
    layout_.header = parse_header(bytes);
    return {};
}

std::uint16_t Reader::width() const {
    return layout_.header.width;
}

std::uint16_t Reader::height() const {
    return layout_.header.height;
}

m32::RowOrder Reader::row_order() const {
    return layout_.rle && !layout_.top_down ? m32::RowOrder::BottomFirst : m32::RowOrder::TopFirst;
}

std::uint64_t Reader::stored_row_bytes() const {
    return std::uint64_t{width()} * layout_.pixel_bytes;
}

std::size_t Reader::record_row_bytes() const {
    return std::size_t{width()} * kRecordBytes;
}

// A first look at the pixels leaves its last chunk of stored rows there, which is the whole image
// where the image is small: it is not read again.
bool Reader::read_stored(std::uint32_t first, std::uint32_t count) {
    if (first == chunk_first_ && count == chunk_held_) {
        return true;
    }
    const std::uint64_t row = stored_row_bytes();
    chunk_held_ = 0;
    if (!read_exact(input_, layout_.pixel_offset + first * row, chunk_.get(),
                    static_cast<std::size_t>(count * row))) {
        return false;
    }
    chunk_first_ = first;
    chunk_held_ = count;
    return true;
}

Failure Reader::ends_early() const {
    return damaged(layout_.rle ? "RLE data ends early" : "pixel data ends early");
}

Failure Reader::prepare() {
    const Header header = layout_.header;
    if (Failure f = describe_layout(header, input_.size, layout_)) {
        return f;
    }
    if (Failure f = allocate()) {
        return f;
    }
    if (layout_.mapped) {
        if (Failure f = load_colour_map()) {
            return f;
        }
    }
    // The extension area may say the alpha bytes are no alpha, but the descriptor's alpha bits
    // say more: where it gives the image alpha bits the bytes are alpha, as writers that fill a
    // mask and still say "no alpha" there mean them. An alpha channel that is 0 everywhere was
    // never filled in, and the image is opaque, unless the extension area says it is alpha.
    const bool alpha_source =
        carries_alpha(layout_.mapped ? layout_.map_entry_kind : layout_.pixel_kind);
    const AlphaSaid said = alpha_source ? extension_attributes(input_) : AlphaSaid::Nothing;
    const bool alpha_wanted =
        alpha_source && !(said == AlphaSaid::NotAlpha && (header.descriptor & 0x0Fu) == 0);
    bool any_alpha = said == AlphaSaid::Alpha;
    if (alpha_wanted && !any_alpha && layout_.pixel_count > 0) {
        if (Failure f = look_for_alpha(any_alpha)) {
            return f;
        }
    }
    keep_alpha_ = alpha_wanted && any_alpha;
    if (layout_.mapped && !keep_alpha_) {
        map_.make_opaque();
    }
    check_indices_ = layout_.mapped && !map_.is_whole();
    if (layout_.rle) {
        rle_.start(input_, layout_.pixel_offset, layout_.pixel_bytes);
    }
    return {};
}

Failure Reader::allocate() {
    const std::uint64_t row = stored_row_bytes();
    const std::uint64_t rows = row == 0 ? 1 : std::max<std::uint64_t>(1, kChunkBytes / row);
    chunk_rows_ = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(rows, std::max<std::uint64_t>(1, height())));
    const std::uint64_t chunk_bytes = chunk_rows_ * row;
    const std::uint64_t window_bytes = layout_.rle ? kRleWindowBytes : 0;
    const std::uint64_t map_bytes = layout_.mapped ? ColourMap::table_bytes(layout_.pixel_kind) : 0;
    if (!chunk_ || chunk_bytes > chunk_capacity_) {
        chunk_.reset(new (std::nothrow) std::uint8_t[static_cast<std::size_t>(chunk_bytes)]);
        chunk_capacity_ = chunk_ ? chunk_bytes : 0;
    }
    if (!chunk_ || (layout_.rle && !rle_.reserve(kRleWindowBytes))) {
        return {FailureKind::OutOfMemory, {}, chunk_bytes + window_bytes + map_bytes};
    }
    return {};
}

Failure Reader::load_colour_map() {
    const Header& h = layout_.header;
    const std::size_t entry_bytes = std::size_t{h.map_length} * layout_.map_entry_bytes;
    try {
        std::vector<std::uint8_t> entries(entry_bytes);
        if (!read_exact(input_, layout_.map_offset, entries.data(), entries.size())) {
            return damaged("colour map ends early");
        }
        map_.build(layout_.pixel_kind, layout_.map_entry_kind, h.map_first_index, h.map_length,
                   entries.data());
    } catch (const std::bad_alloc&) {
        return {
            FailureKind::OutOfMemory, {}, entry_bytes + ColourMap::table_bytes(layout_.pixel_kind)};
    }
    return {};
}

// Calls check(row) for every stored row, in stored order, until it stops or finds damage.
template <typename RowCheck>
Failure Reader::scan_stored_rows(RowCheck&& check) {
    const std::uint64_t row = stored_row_bytes();
    const std::uint32_t rows = height();
    if (layout_.rle) {
        rle_.start(input_, layout_.pixel_offset, layout_.pixel_bytes);
    }
    for (std::uint32_t first = 0; first < rows; first += chunk_rows_) {
        const std::uint32_t count = std::min(chunk_rows_, rows - first);
        const bool read = layout_.rle ? rle_.stored(chunk_.get(), std::uint64_t{count} * width()) ==
                                            Decoded::Complete
                                      : read_stored(first, count);
        if (!read) {
            return ends_early();
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            switch (check(chunk_.get() + i * row)) {
                case Scan::Continue:
                    break;
                case Scan::Stop:
                    return {};
                case Scan::Damaged:
                    return index_outside_map();
            }
        }
    }
    return {};
}

// Looks at the stored pixels only until one alpha is visible: in most images that is the first
// chunk.
Failure Reader::look_for_alpha(bool& any_alpha) {
    any_alpha = false;
    return scan_stored_rows([&](const std::uint8_t* row) {
        any_alpha = any_visible_alpha(layout_.pixel_kind, map_, row, width());
        return any_alpha ? Scan::Stop : Scan::Continue;
    });
}

Failure Reader::find_damage() {
    if (check_indices_) {
        return scan_stored_rows([&](const std::uint8_t* row) {
            return map_.holds(layout_.pixel_kind, row, width()) ? Scan::Continue : Scan::Damaged;
        });
    }
    if (layout_.rle && layout_.pixel_count > 0) {
        rle_.start(input_, layout_.pixel_offset, layout_.pixel_bytes);
        if (rle_.skip(layout_.pixel_count) != Decoded::Complete) {
            return ends_early();
        }
    }
    return {};
}

Failure Reader::read_rows(std::uint32_t first_row, std::uint32_t count, std::uint8_t* records) {
    const Failure refused = unsupported("rows asked for outside the image or its stored order");
    if (first_row > height() || count > height() - first_row) {
        return refused;
    }
    if (count == 0 || layout_.pixel_count == 0) {
        return {};
    }
    if (!layout_.rle) {
        return convert_stored_rows(first_row, count, records);
    }
    const std::uint32_t stored_first = layout_.top_down ? first_row : height() - first_row - count;
    if (std::uint64_t{stored_first} * width() != rle_.pixels_taken()) {
        return refused;
    }
    return decode_rows(count, records);
}

// Output rows first_row to first_row + count - 1, read a chunk of stored rows at a time: from the
// end of the pixel data backwards for images stored bottom row first.
Failure Reader::convert_stored_rows(std::uint32_t first_row, std::uint32_t count,
                                    std::uint8_t* records) {
    const std::uint64_t row = stored_row_bytes();
    const std::size_t out_row = record_row_bytes();
    const Converter convert = converter_for(layout_.pixel_kind, keep_alpha_);
    for (std::uint32_t done = 0; done < count;) {
        const std::uint32_t n = std::min(chunk_rows_, count - done);
        const std::uint32_t out_first = first_row + done;
        const std::uint32_t stored_first = layout_.top_down ? out_first : height() - out_first - n;
        if (!read_stored(stored_first, n)) {
            return ends_early();
        }
        for (std::uint32_t i = 0; i < n; ++i) {
            const std::uint8_t* in = chunk_.get() + (layout_.top_down ? i : n - 1 - i) * row;
            std::uint8_t* out = records + (done + i) * out_row;
            if (check_indices_ && !map_.holds(layout_.pixel_kind, in, width())) {
                return index_outside_map();
            }
            convert(map_, in, width(), out);
            if (layout_.right_to_left) {
                mirror_records(out, width());
            }
        }
        done += n;
    }
    return {};
}

// The next `count` rows of the RLE stream, made into records straight from the packets. Rows
// stored bottom first come out of the stream bottom row first, and go into the block from its
// end.
Failure Reader::decode_rows(std::uint32_t count, std::uint8_t* records) {
    const RecordFormat format{layout_.pixel_kind, keep_alpha_,
                              converter_for(layout_.pixel_kind, keep_alpha_), &map_,
                              check_indices_};
    const std::size_t out_row = record_row_bytes();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::uint8_t* out = records + (layout_.top_down ? i : count - 1 - i) * out_row;
        switch (rle_.records(format, out, width())) {
            case Decoded::Complete:
                break;
            case Decoded::EndsEarly:
                return ends_early();
            case Decoded::IndexOutsideMap:
                return index_outside_map();
        }
        if (layout_.right_to_left) {
            mirror_records(out, width());
        }
    }
    return {};
}

}  // namespace varnel::tga
