#include "tga/tga_format.hpp"

#include <utility>

namespace varnel::tga {

namespace {

// Word16 only when the descriptor gives the pixel at least one alpha bit: writers that leave
// the top bit clear on opaque 16-bit images say so with zero alpha bits.
bool word_kind(unsigned bits, unsigned alpha_bits, PixelKind& kind) {
    if (bits == 15 || (bits == 16 && alpha_bits == 0)) {
        kind = PixelKind::Word15;
        return true;
    }
    if (bits == 16) {
        kind = PixelKind::Word16;
        return true;
    }
    return false;
}

bool true_colour_kind(unsigned bits, unsigned alpha_bits, PixelKind& kind) {
    if (bits == 24) {
        kind = PixelKind::Bgr24;
        return true;
    }
    if (bits == 32) {
        kind = PixelKind::Bgra32;
        return true;
    }
    return word_kind(bits, alpha_bits, kind);
}

Failure pixel_kind_for(const Header& header, PixelKind& kind) {
    const unsigned bits = header.pixel_bits;
    const unsigned alpha_bits = header.descriptor & 0x0Fu;
    switch (header.image_type & 0x07u) {
        case 1:
            if (bits == 8 || bits == 16) {
                kind = bits == 8 ? PixelKind::Index8 : PixelKind::Index16;
                return {};
            }
            return unsupported(std::to_string(bits) + "-bit colour index");
        case 2:
            if (true_colour_kind(bits, alpha_bits, kind)) {
                return {};
            }
            return unsupported(std::to_string(bits) + "-bit true colour");
        default:
            if (bits == 8 || bits == 16) {
                kind = bits == 8 ? PixelKind::Grey8 : PixelKind::GreyAlpha16;
                return {};
            }
            return unsupported(std::to_string(bits) + "-bit grey");
    }
}

bool is_known_image_type(unsigned type) {
    return type == 1 || type == 2 || type == 3 || type == 9 || type == 10 || type == 11;
}

}  // namespace

Header parse_header(const std::uint8_t (&bytes)[kHeaderSize]) {
    Header h;
    h.id_length = bytes[0];
    h.colour_map_type = bytes[1];
    h.image_type = bytes[2];
    h.map_first_index = load_le16(bytes + 3);
    h.map_length = load_le16(bytes + 5);
    h.map_entry_bits = bytes[7];
    h.width = load_le16(bytes + 12);
    h.height = load_le16(bytes + 14);
    h.pixel_bits = bytes[16];
    h.descriptor = bytes[17];
    return h;
}

Failure unsupported(std::string reason) {
    return {FailureKind::Unsupported, std::move(reason), 0};
}

Failure damaged(std::string reason) {
    return {FailureKind::Damaged, std::move(reason), 0};
}

unsigned bytes_per_pixel(PixelKind kind) {
    switch (kind) {
        case PixelKind::Bgr24:
            return 3;
        case PixelKind::Bgra32:
            return 4;
        case PixelKind::Grey8:
        case PixelKind::Index8:
            return 1;
        case PixelKind::Word15:
        case PixelKind::Word16:
        case PixelKind::GreyAlpha16:
        case PixelKind::Index16:
            return 2;
    }
    return 1;
}

bool carries_alpha(PixelKind kind) {
    return kind == PixelKind::Bgra32 || kind == PixelKind::Word16 || kind == PixelKind::GreyAlpha16;
}

Failure describe_layout(const Header& header, std::uint64_t file_size, Layout& layout) {
    layout = Layout{};
    layout.header = header;
    layout.file_size = file_size;

    if (!is_known_image_type(header.image_type)) {
        return unsupported("image type " + std::to_string(header.image_type));
    }
    if (header.colour_map_type > 1) {
        return unsupported("colour-map type " + std::to_string(header.colour_map_type));
    }
    if ((header.descriptor & 0xC0u) != 0) {
        return unsupported("interleaved rows");
    }
    if (Failure f = pixel_kind_for(header, layout.pixel_kind)) {
        return f;
    }
    layout.pixel_bytes = bytes_per_pixel(layout.pixel_kind);
    layout.rle = header.image_type >= 9;
    layout.top_down = (header.descriptor & 0x20u) != 0;
    layout.right_to_left = (header.descriptor & 0x10u) != 0;
    layout.mapped = (header.image_type & 0x07u) == 1;
    layout.pixel_count = std::uint64_t{header.width} * header.height;

    std::uint64_t map_bytes = 0;
    if (header.colour_map_type == 1) {
        const unsigned bits = header.map_entry_bits;
        if (bits != 15 && bits != 16 && bits != 24 && bits != 32) {
            return unsupported(std::to_string(bits) + "-bit colour-map entries");
        }
        true_colour_kind(bits, header.descriptor & 0x0Fu, layout.map_entry_kind);
        layout.map_entry_bytes = bytes_per_pixel(layout.map_entry_kind);
        map_bytes = std::uint64_t{header.map_length} * layout.map_entry_bytes;
    } else if (layout.mapped) {
        return damaged("colour-mapped image without a colour map");
    }

    // All sums stay far below 2^64: 18 + 255 + 65535 * 4 + 65535 * 65535 * 4.
    layout.map_offset = kHeaderSize + std::uint64_t{header.id_length};
    if (layout.map_offset > file_size) {
        return damaged("image ID field ends early");
    }
    if (map_bytes > file_size - layout.map_offset) {
        return damaged("colour map ends early");
    }
    layout.pixel_offset = layout.map_offset + map_bytes;
    const std::uint64_t available = file_size - layout.pixel_offset;
    if (layout.rle) {
        // Every packet carries its pixels in at least one header byte and one pixel.
        const std::uint64_t fewest_packets =
            (layout.pixel_count + kMostPixelsPerPacket - 1) / kMostPixelsPerPacket;
        if (fewest_packets * (1 + layout.pixel_bytes) > available) {
            return damaged("RLE data ends early");
        }
    } else if (layout.pixel_count * layout.pixel_bytes > available) {
        return damaged("pixel data ends early");
    }
    return {};
}

}  // namespace varnel::tga
