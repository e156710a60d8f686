#include "reference.hpp"

#include <cstring>

namespace varnel::fuzzing {

namespace {

enum class Kind { Bgr24, Bgra32, Word15, Word16, Grey8, GreyAlpha16, Index8, Index16 };

unsigned le16(const std::uint8_t* p) {
    return static_cast<unsigned>(p[0]) | static_cast<unsigned>(p[1]) << 8;
}

std::uint64_t le32(const std::uint8_t* p) {
    return std::uint64_t{p[0]} | std::uint64_t{p[1]} << 8 | std::uint64_t{p[2]} << 16 |
           std::uint64_t{p[3]} << 24;
}

unsigned size_of(Kind kind) {
    switch (kind) {
        case Kind::Bgr24:
            return 3;
        case Kind::Bgra32:
            return 4;
        case Kind::Grey8:
        case Kind::Index8:
            return 1;
        default:
            return 2;
    }
}

bool has_alpha(Kind kind) {
    return kind == Kind::Bgra32 || kind == Kind::Word16 || kind == Kind::GreyAlpha16;
}

bool colour_kind(unsigned bits, unsigned alpha_bits, Kind& kind) {
    switch (bits) {
        case 15:
            kind = Kind::Word15;
            return true;
        case 16:
            kind = alpha_bits == 0 ? Kind::Word15 : Kind::Word16;
            return true;
        case 24:
            kind = Kind::Bgr24;
            return true;
        case 32:
            kind = Kind::Bgra32;
            return true;
        default:
            return false;
    }
}

std::uint8_t widen(unsigned v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

// R, G, B and the stored alpha (255 for kinds without one).
void to_rgba(Kind kind, const std::uint8_t* p, std::uint8_t* out) {
    switch (kind) {
        case Kind::Bgr24:
        case Kind::Bgra32:
            out[0] = p[2];
            out[1] = p[1];
            out[2] = p[0];
            out[3] = kind == Kind::Bgra32 ? p[3] : 255;
            return;
        case Kind::Word15:
        case Kind::Word16: {
            const unsigned w = le16(p);
            out[0] = widen((w >> 10) & 31);
            out[1] = widen((w >> 5) & 31);
            out[2] = widen(w & 31);
            out[3] = kind == Kind::Word15 || (w & 0x8000) != 0 ? 255 : 0;
            return;
        }
        default:
            out[0] = out[1] = out[2] = p[0];
            out[3] = kind == Kind::GreyAlpha16 ? p[1] : 255;
            return;
    }
}

// The attributes type of a TGA 2.0 extension area that lies before the footer; -1 without one.
int attributes_type(const std::uint8_t* data, std::size_t size) {
    static const char signature[18] = "TRUEVISION-XFILE.";
    if (size < 26 || std::memcmp(data + size - 18, signature, 18) != 0) {
        return -1;
    }
    const std::uint64_t offset = le32(data + size - 26);
    if (offset == 0 || offset + 495 > size - 26) {
        return -1;
    }
    return data[offset + 494];
}

// Hands every stored pixel to `visit` in file order, RLE undone; false when the data ends first.
template <typename Visit>
bool each_stored_pixel(const std::uint8_t* data, std::size_t size, std::uint64_t offset, bool rle,
                       unsigned bytes, std::uint64_t count, Visit visit) {
    if (!rle) {
        if (offset > size || count * bytes > size - offset) {
            return false;
        }
        for (std::uint64_t i = 0; i < count; ++i) {
            if (!visit(data + offset + i * bytes)) {
                return false;
            }
        }
        return true;
    }
    std::uint64_t made = 0;
    while (made < count) {
        if (offset >= size) {
            return false;
        }
        const unsigned h = data[offset++];
        const std::uint64_t n = (h & 0x7F) + 1;
        const std::uint64_t used = n < count - made ? n : count - made;
        const bool repeat = (h & 0x80) != 0;
        if ((size - offset) / bytes < (repeat ? 1 : used)) {
            return false;
        }
        for (std::uint64_t i = 0; i < used; ++i) {
            if (!visit(data + offset + (repeat ? 0 : i * bytes))) {
                return false;
            }
        }
        offset += (repeat ? 1 : n) * bytes;
        made += used;
    }
    return true;
}

}  // namespace

const char* verdict_name(Verdict verdict) {
    switch (verdict) {
        case Verdict::NotTga:
            return "not a TGA";
        case Verdict::Unsupported:
            return "unsupported";
        case Verdict::Damaged:
            return "damaged";
        case Verdict::Readable:
            return "readable";
    }
    return "?";
}

Decoded decode_reference(const std::uint8_t* data, std::size_t size, std::uint64_t record_limit) {
    Decoded d;
    if (size < 18) {
        return d;
    }
    const unsigned id_length = data[0];
    const unsigned map_type = data[1];
    const unsigned type = data[2];
    const unsigned first = le16(data + 3);
    const unsigned map_length = le16(data + 5);
    const unsigned entry_bits = data[7];
    d.width = static_cast<std::uint16_t>(le16(data + 12));
    d.height = static_cast<std::uint16_t>(le16(data + 14));
    const unsigned bits = data[16];
    const unsigned descriptor = data[17];
    const unsigned alpha_bits = descriptor & 15;

    d.verdict = Verdict::Unsupported;
    const unsigned base = type & 7;
    if ((base != 1 && base != 2 && base != 3) || (type != base && type != base + 8) ||
        map_type > 1 || (descriptor & 0xC0) != 0) {
        return d;
    }
    Kind kind = Kind::Bgr24;
    if (base == 2) {
        if (!colour_kind(bits, alpha_bits, kind)) {
            return d;
        }
    } else if (bits == 8 || bits == 16) {
        kind = base == 1 ? (bits == 8 ? Kind::Index8 : Kind::Index16)
                         : (bits == 8 ? Kind::Grey8 : Kind::GreyAlpha16);
    } else {
        return d;
    }
    Kind entry_kind = Kind::Bgr24;
    if (map_type == 1 && (entry_bits == 8 || !colour_kind(entry_bits, alpha_bits, entry_kind))) {
        return d;
    }

    d.verdict = Verdict::Damaged;
    const bool mapped = base == 1;
    if (mapped && map_type == 0) {
        return d;
    }
    const std::uint64_t map_offset = 18 + std::uint64_t{id_length};
    const std::uint64_t map_bytes =
        map_type == 1 ? std::uint64_t{map_length} * size_of(entry_kind) : 0;
    if (map_offset + map_bytes > size) {
        return d;
    }
    const std::uint64_t count = std::uint64_t{d.width} * d.height;
    const bool keep = count * 4 <= record_limit;
    const unsigned bytes = size_of(kind);
    // Every pixel as R, G, B and its stored alpha, in file order (kept only within the limit).
    std::vector<std::uint8_t> pixels;
    bool any_alpha = false;
    const auto visit = [&](const std::uint8_t* p) {
        std::uint8_t rgba[4];
        if (mapped) {
            const unsigned index = kind == Kind::Index8 ? p[0] : le16(p);
            if (index < first || index - first >= map_length) {
                return false;
            }
            to_rgba(entry_kind, data + map_offset + (index - first) * size_of(entry_kind), rgba);
        } else {
            to_rgba(kind, p, rgba);
        }
        any_alpha = any_alpha || rgba[3] != 0;
        if (keep) {
            pixels.insert(pixels.end(), rgba, rgba + 4);
        }
        return true;
    };
    if (!each_stored_pixel(data, size, map_offset + map_bytes, type > 8, bytes, count, visit)) {
        return d;
    }
    d.verdict = Verdict::Readable;
    if (!keep) {
        return d;
    }

    // Types 0 to 2 deny the alpha only where the descriptor gives no alpha bits; 3 and 4 keep it
    // even where it is 0 everywhere.
    const int attributes = attributes_type(data, size);
    const bool denied = attributes >= 0 && attributes <= 2 && alpha_bits == 0;
    const bool keep_alpha =
        has_alpha(mapped ? entry_kind : kind) && !denied && (any_alpha || attributes == 3 || attributes == 4);
    const bool top_down = (descriptor & 0x20) != 0;
    const bool right_to_left = (descriptor & 0x10) != 0;
    d.records.resize(pixels.size());
    for (std::size_t row = 0; row < d.height; ++row) {
        const std::size_t stored_row = top_down ? row : d.height - 1 - row;
        for (std::size_t column = 0; column < d.width; ++column) {
            const std::size_t stored_column = right_to_left ? d.width - 1 - column : column;
            const std::uint8_t* in = pixels.data() + (stored_row * d.width + stored_column) * 4;
            std::uint8_t* out = d.records.data() + (row * d.width + column) * 4;
            std::memcpy(out, in, 3);
            out[3] = keep_alpha ? in[3] : 255;
        }
    }
    d.have_records = true;
    return d;
}

}  // namespace varnel::fuzzing
