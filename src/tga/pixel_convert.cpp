#include "tga/pixel_convert.hpp"

#include <cstring>

// On x86 the common 24- and 32-bit kinds are converted 4 pixels at a time with a byte shuffle
// (SSSE3, checked at run time); elsewhere, and for the last pixels of a row, one at a time.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define VARNEL_SHUFFLE_PATH 1
#include <tmmintrin.h>
#endif

namespace varnel::tga {

namespace {

std::uint16_t load16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// A 5-bit channel widened to 8 bits so that 0 stays 0 and 31 becomes 255.
std::uint8_t widen5(unsigned v) {
    return static_cast<std::uint8_t>((v << 3) | (v >> 2));
}

#ifdef VARNEL_SHUFFLE_PATH
bool has_shuffle() {
    static const bool available = __builtin_cpu_supports("ssse3") != 0;
    return available;
}

// Converts whole groups of 4 pixels and returns how many pixels it converted. Each 16-byte load
// of 24-bit pixels uses 12 bytes, so it stops while fewer than 16 bytes are left to read.
__attribute__((target("ssse3"))) std::size_t shuffle_pixels(const std::uint8_t* in,
                                                            std::size_t count, unsigned stride,
                                                            std::uint8_t alpha_or,
                                                            std::uint8_t* out) {
    const __m128i order = stride == 3
                              ? _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1)
                              : _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(std::uint32_t{alpha_or} << 24));
    const std::size_t reach = stride == 3 ? 6 : 4;
    std::size_t done = 0;
    for (; done + reach <= count; done += 4) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                         _mm_or_si128(_mm_shuffle_epi8(v, order), alpha));
        in += 4 * stride;
        out += 16;
    }
    return done;
}
#endif

std::size_t fast_pixels(const std::uint8_t* in, std::size_t count, unsigned stride,
                        std::uint8_t alpha_or, std::uint8_t* out) {
#ifdef VARNEL_SHUFFLE_PATH
    if (has_shuffle()) {
        return shuffle_pixels(in, count, stride, alpha_or, out);
    }
#else
    (void)in;
    (void)count;
    (void)stride;
    (void)alpha_or;
    (void)out;
#endif
    return 0;
}

void convert_bgr24(const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    const std::size_t done = fast_pixels(in, count, 3, 255, out);
    in += done * 3;
    out += done * 4;
    for (std::size_t i = done; i < count; ++i) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = 255;
        in += 3;
        out += 4;
    }
}

void convert_bgra32(const std::uint8_t* in, std::size_t count, bool keep_alpha, std::uint8_t* out) {
    const std::uint8_t alpha_or = keep_alpha ? 0 : 255;
    const std::size_t done = fast_pixels(in, count, 4, alpha_or, out);
    in += done * 4;
    out += done * 4;
    for (std::size_t i = done; i < count; ++i) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = static_cast<std::uint8_t>(in[3] | alpha_or);
        in += 4;
        out += 4;
    }
}

// A RRRRR GGGGG BBBBB; the top bit is alpha only for Word16.
void convert_words(const std::uint8_t* in, std::size_t count, bool use_top_bit, std::uint8_t* out) {
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned w = load16(in);
        out[0] = widen5((w >> 10) & 0x1Fu);
        out[1] = widen5((w >> 5) & 0x1Fu);
        out[2] = widen5(w & 0x1Fu);
        out[3] = (!use_top_bit || (w & 0x8000u) != 0) ? 255 : 0;
        in += 2;
        out += 4;
    }
}

void convert_grey(const std::uint8_t* in, std::size_t count, unsigned stride, bool keep_alpha,
                  std::uint8_t* out) {
    for (std::size_t i = 0; i < count; ++i) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = (stride == 2 && keep_alpha) ? in[1] : 255;
        in += stride;
        out += 4;
    }
}

unsigned index_at(PixelKind kind, const std::uint8_t* in, std::size_t i) {
    return kind == PixelKind::Index8 ? in[i] : load16(in + 2 * i);
}

void lookup_indices(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                    std::size_t count, bool keep_alpha, std::uint8_t* out) {
    const std::uint8_t* table = palette.rgba.data();
    for (std::size_t i = 0; i < count; ++i) {
        std::memcpy(out + 4 * i, table + 4 * std::size_t{index_at(kind, in, i)}, 4);
        if (!keep_alpha) {
            out[4 * i + 3] = 255;
        }
    }
}

}  // namespace

Palette build_palette(const Layout& layout, const std::uint8_t* entries) {
    const std::size_t slots = layout.pixel_kind == PixelKind::Index8 ? 256 : 65536;
    Palette palette;
    palette.rgba.assign(slots * 4, 0);
    palette.present.assign(slots, 0);
    const std::size_t first = layout.header.map_first_index;
    const std::size_t length = layout.header.map_length;
    for (std::size_t i = 0; i < length && first + i < slots; ++i) {
        convert_pixels(layout.map_entry_kind, palette, entries + i * layout.map_entry_bytes, 1,
                       true, palette.rgba.data() + (first + i) * 4);
        palette.present[first + i] = 1;
    }
    return palette;
}

void convert_pixels(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                    std::size_t count, bool keep_alpha, std::uint8_t* out) {
    switch (kind) {
        case PixelKind::Bgr24:
            convert_bgr24(in, count, out);
            return;
        case PixelKind::Bgra32:
            convert_bgra32(in, count, keep_alpha, out);
            return;
        case PixelKind::Word15:
        case PixelKind::Word16:
            convert_words(in, count, kind == PixelKind::Word16 && keep_alpha, out);
            return;
        case PixelKind::Grey8:
            convert_grey(in, count, 1, keep_alpha, out);
            return;
        case PixelKind::GreyAlpha16:
            convert_grey(in, count, 2, keep_alpha, out);
            return;
        case PixelKind::Index8:
        case PixelKind::Index16:
            lookup_indices(kind, palette, in, count, keep_alpha, out);
            return;
    }
}

void mirror_records(std::uint8_t* rgba, std::size_t count) {
    for (std::size_t i = 0, j = count; i + 1 < j; ++i, --j) {
        std::uint8_t tmp[4];
        std::memcpy(tmp, rgba + 4 * i, 4);
        std::memcpy(rgba + 4 * i, rgba + 4 * (j - 1), 4);
        std::memcpy(rgba + 4 * (j - 1), tmp, 4);
    }
}

bool any_visible_alpha(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                       std::size_t count) {
    // Where the alpha of each pixel lies, and which of its bits count.
    std::size_t stride = 1;
    std::size_t at = 0;
    unsigned mask = 0xFFu;
    switch (kind) {
        case PixelKind::Bgra32:
            stride = 4;
            at = 3;
            break;
        case PixelKind::Word16:
            stride = 2;
            at = 1;
            mask = 0x80u;
            break;
        case PixelKind::GreyAlpha16:
            stride = 2;
            at = 1;
            break;
        case PixelKind::Index8:
        case PixelKind::Index16:
            for (std::size_t i = 0; i < count; ++i) {
                if (palette.rgba[4 * std::size_t{index_at(kind, in, i)} + 3] != 0) {
                    return true;
                }
            }
            return false;
        default:
            return count > 0;
    }
    for (std::size_t i = 0; i < count; ++i) {
        if ((in[stride * i + at] & mask) != 0) {
            return true;
        }
    }
    return false;
}

bool all_indices_present(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                         std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (palette.present[index_at(kind, in, i)] == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace varnel::tga
