#include "tga/pixel_convert.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <type_traits>

// x86 builds whose target has SSE2 (every x86-64; i686 only when asked for) convert with SSE2,
// and 24- and 32-bit pixels with an SSSE3 byte shuffle where the processor has one. AArch64
// builds convert 24- and 32-bit pixels with NEON, which every AArch64 processor has. Everything
// else, and the pixels at the end of a row, goes one pixel at a time.
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define VARNEL_X86_PATHS 1
#include <immintrin.h>
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#define VARNEL_NEON_PATH 1
#include <arm_neon.h>
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

VectorPath best_path() {
#ifdef VARNEL_X86_PATHS
    return __builtin_cpu_supports("ssse3") ? VectorPath::Ssse3 : VectorPath::Sse2;
#elif defined(VARNEL_NEON_PATH)
    return VectorPath::Neon;
#else
    return VectorPath::Plain;
#endif
}

// Chosen once, on first use; tests may choose another.
std::atomic<int> g_path{-1};

VectorPath current_path() {
    int path = g_path.load(std::memory_order_relaxed);
    if (path < 0) {
        path = static_cast<int>(best_path());
        g_path.store(path, std::memory_order_relaxed);
    }
    return static_cast<VectorPath>(path);
}

#ifdef VARNEL_X86_PATHS
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

// 8 words at a time; returns how many pixels it converted. Widening a 5-bit channel c is
// (c << 3) | (c >> 2) = (c * 33) >> 2, one multiplication that can also take the channel from
// where it lies in the word and put the result in the byte it goes to:
//   R = high half of (w & 0x7C00) * 528       (c << 10 times 33 << 4, then >> 16)
//   G = low half of (w & 0x03E0) * 66, & 0xFF00   (G in the high byte)
//   B = low half of (w & 0x001F) * 33, >> 2
std::size_t convert_words_sse2(const std::uint8_t* in, std::size_t count, bool use_top_bit,
                               std::uint8_t* out) {
    const __m128i red_bits = _mm_set1_epi16(0x7C00);
    const __m128i green_bits = _mm_set1_epi16(0x03E0);
    const __m128i blue_bits = _mm_set1_epi16(0x001F);
    const __m128i high_byte = _mm_set1_epi16(-256);
    std::size_t done = 0;
    for (; done + 8 <= count; done += 8) {
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * done));
        const __m128i r = _mm_mulhi_epu16(_mm_and_si128(w, red_bits), _mm_set1_epi16(528));
        const __m128i g_high = _mm_and_si128(
            _mm_mullo_epi16(_mm_and_si128(w, green_bits), _mm_set1_epi16(66)), high_byte);
        const __m128i b =
            _mm_srli_epi16(_mm_mullo_epi16(_mm_and_si128(w, blue_bits), _mm_set1_epi16(33)), 2);
        const __m128i a_high =
            use_top_bit ? _mm_and_si128(_mm_srai_epi16(w, 15), high_byte) : high_byte;
        // Each 16-bit lane holds two output bytes: R, G and B, A; interleaving the lanes makes
        // the records.
        const __m128i rg = _mm_or_si128(r, g_high);
        const __m128i ba = _mm_or_si128(b, a_high);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * done), _mm_unpacklo_epi16(rg, ba));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * done + 16),
                         _mm_unpackhi_epi16(rg, ba));
    }
    return done;
}

// 16 grey pixels at a time.
std::size_t convert_grey8_sse2(const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    const __m128i opaque = _mm_set1_epi8(static_cast<char>(0xFF));
    std::size_t done = 0;
    for (; done + 16 <= count; done += 16) {
        const __m128i g = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + done));
        const __m128i gg_low = _mm_unpacklo_epi8(g, g);
        const __m128i gg_high = _mm_unpackhi_epi8(g, g);
        const __m128i ga_low = _mm_unpacklo_epi8(g, opaque);
        const __m128i ga_high = _mm_unpackhi_epi8(g, opaque);
        std::uint8_t* o = out + 4 * done;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_unpacklo_epi16(gg_low, ga_low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), _mm_unpackhi_epi16(gg_low, ga_low));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32), _mm_unpacklo_epi16(gg_high, ga_high));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 48), _mm_unpackhi_epi16(gg_high, ga_high));
    }
    return done;
}

// 8 grey and alpha pairs at a time.
std::size_t convert_grey_alpha_sse2(const std::uint8_t* in, std::size_t count, bool keep_alpha,
                                    std::uint8_t* out) {
    const __m128i low_byte = _mm_set1_epi16(0xFF);
    const __m128i alpha_or = keep_alpha ? _mm_setzero_si128() : _mm_set1_epi16(-256);
    std::size_t done = 0;
    for (; done + 8 <= count; done += 8) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 2 * done));
        const __m128i g = _mm_and_si128(v, low_byte);
        const __m128i gg = _mm_or_si128(g, _mm_slli_epi16(g, 8));
        const __m128i ga = _mm_or_si128(v, alpha_or);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * done), _mm_unpacklo_epi16(gg, ga));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * done + 16),
                         _mm_unpackhi_epi16(gg, ga));
    }
    return done;
}

__m128i entry_at(const std::uint8_t* table, std::size_t index) {
    std::int32_t entry = 0;
    std::memcpy(&entry, table + kRecordBytes * index, kRecordBytes);
    return _mm_cvtsi32_si128(entry);
}
#endif

#ifdef VARNEL_NEON_PATH
// 16 pixels at a time: one load splits them into channels, one store interleaves the records.
std::size_t interleave_neon(const std::uint8_t* in, std::size_t count, unsigned stride,
                            std::uint8_t alpha_or, std::uint8_t* out) {
    const uint8x16_t alpha = vdupq_n_u8(alpha_or);
    std::size_t done = 0;
    for (; done + 16 <= count; done += 16) {
        uint8x16x4_t records;
        if (stride == 3) {
            const uint8x16x3_t bgr = vld3q_u8(in + 3 * done);
            records.val[0] = bgr.val[2];
            records.val[1] = bgr.val[1];
            records.val[2] = bgr.val[0];
            records.val[3] = alpha;
        } else {
            const uint8x16x4_t bgra = vld4q_u8(in + 4 * done);
            records.val[0] = bgra.val[2];
            records.val[1] = bgra.val[1];
            records.val[2] = bgra.val[0];
            records.val[3] = vorrq_u8(bgra.val[3], alpha);
        }
        vst4q_u8(out + 4 * done, records);
    }
    return done;
}
#endif

// How many of the pixels the vector path converted; the caller converts the rest.
std::size_t interleave_vector(const std::uint8_t* in, std::size_t count, unsigned stride,
                              std::uint8_t alpha_or, std::uint8_t* out) {
    switch (current_path()) {
#ifdef VARNEL_X86_PATHS
        case VectorPath::Ssse3:
            return shuffle_pixels(in, count, stride, alpha_or, out);
#endif
#ifdef VARNEL_NEON_PATH
        case VectorPath::Neon:
            return interleave_neon(in, count, stride, alpha_or, out);
#endif
        default:
            return 0;
    }
}

bool sse2_in_use() {
#ifdef VARNEL_X86_PATHS
    const VectorPath path = current_path();
    return path == VectorPath::Sse2 || path == VectorPath::Ssse3;
#else
    return false;
#endif
}

// B, G, R(, A) to R, G, B, A.
void convert_interleaved(const std::uint8_t* in, std::size_t count, unsigned stride,
                         std::uint8_t alpha_or, std::uint8_t* out) {
    const std::size_t done = interleave_vector(in, count, stride, alpha_or, out);
    in += done * stride;
    out += done * kRecordBytes;
    for (std::size_t i = done; i < count; ++i) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = static_cast<std::uint8_t>((stride == 4 ? in[3] : 0) | alpha_or);
        in += stride;
        out += kRecordBytes;
    }
}

// A RRRRR GGGGG BBBBB; the top bit is alpha only for Word16.
void convert_words(const std::uint8_t* in, std::size_t count, bool use_top_bit, std::uint8_t* out) {
    std::size_t done = 0;
#ifdef VARNEL_X86_PATHS
    if (sse2_in_use()) {
        done = convert_words_sse2(in, count, use_top_bit, out);
    }
#endif
    in += 2 * done;
    out += kRecordBytes * done;
    for (std::size_t i = done; i < count; ++i) {
        const unsigned w = load16(in);
        out[0] = widen5((w >> 10) & 0x1Fu);
        out[1] = widen5((w >> 5) & 0x1Fu);
        out[2] = widen5(w & 0x1Fu);
        out[3] = (!use_top_bit || (w & 0x8000u) != 0) ? 255 : 0;
        in += 2;
        out += kRecordBytes;
    }
}

void convert_grey(const std::uint8_t* in, std::size_t count, unsigned stride, bool keep_alpha,
                  std::uint8_t* out) {
    std::size_t done = 0;
#ifdef VARNEL_X86_PATHS
    if (sse2_in_use()) {
        done = stride == 1 ? convert_grey8_sse2(in, count, out)
                           : convert_grey_alpha_sse2(in, count, keep_alpha, out);
    }
#endif
    in += stride * done;
    out += kRecordBytes * done;
    for (std::size_t i = done; i < count; ++i) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = (stride == 2 && keep_alpha) ? in[1] : 255;
        in += stride;
        out += kRecordBytes;
    }
}

template <typename Index>
std::size_t index_of(const std::uint8_t* in, std::size_t i) {
    return sizeof(Index) == 1 ? in[i] : std::size_t{load16(in + 2 * i)};
}

// The palette's entries are taken whole, alpha included: the caller has settled the alpha there
// (see make_opaque), so that no pixel needs a second look.
template <typename Index>
void lookup_indices(const Palette& palette, const std::uint8_t* in, std::size_t count,
                    std::uint8_t* out) {
    const std::uint8_t* table = palette.rgba.data();
    std::size_t i = 0;
#ifdef VARNEL_X86_PATHS
    // Four entries gathered in a register go out in one store instead of four.
    if (sse2_in_use()) {
        for (; i + 4 <= count; i += 4) {
            const __m128i low = _mm_unpacklo_epi32(entry_at(table, index_of<Index>(in, i)),
                                                   entry_at(table, index_of<Index>(in, i + 1)));
            const __m128i high = _mm_unpacklo_epi32(entry_at(table, index_of<Index>(in, i + 2)),
                                                    entry_at(table, index_of<Index>(in, i + 3)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kRecordBytes * i),
                             _mm_unpacklo_epi64(low, high));
        }
    }
#endif
    for (; i < count; ++i) {
        std::memcpy(out + kRecordBytes * i, table + kRecordBytes * index_of<Index>(in, i),
                    kRecordBytes);
    }
}

// Indices are checked by their smallest and largest value, a loop the compiler turns into
// vector code when the values are of the indices' own width. SSE2 has an unsigned minimum and
// maximum for bytes only, so 16-bit indices are compared with their top bit flipped, which maps
// unsigned order onto signed order.
template <typename Index>
bool indices_within(const std::uint8_t* in, std::size_t count, std::size_t first, std::size_t end) {
    using Ordered = std::conditional_t<sizeof(Index) == 1, std::uint8_t, std::int16_t>;
    constexpr std::size_t flip = sizeof(Index) == 1 ? 0 : 0x8000;
    Ordered low = std::numeric_limits<Ordered>::max();
    Ordered high = std::numeric_limits<Ordered>::min();
    for (std::size_t i = 0; i < count; ++i) {
        const auto index = static_cast<Ordered>(index_of<Index>(in, i) ^ flip);
        low = std::min(low, index);
        high = std::max(high, index);
    }
    const std::size_t lowest = static_cast<Index>(low) ^ flip;
    const std::size_t highest = static_cast<Index>(high) ^ flip;
    return count == 0 || (lowest >= first && highest < end);
}

// True when the entry of some index has an alpha other than 0.
template <typename Index>
bool any_entry_alpha(const Palette& palette, const std::uint8_t* in, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (palette.rgba[kRecordBytes * index_of<Index>(in, i) + 3] != 0) {
            return true;
        }
    }
    return false;
}

// The bytes of `count` pixels of Word's size ORed together, in stored order: a whole row in one
// loop without a branch, which the compiler turns into vector code. Byte k of the result is set
// where byte k of some pixel is, whatever the processor's byte order.
template <typename Word>
std::array<std::uint8_t, sizeof(Word)> or_of_pixels(const std::uint8_t* in, std::size_t count) {
    Word acc = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Word w;
        std::memcpy(&w, in + i * sizeof(Word), sizeof(Word));
        acc = static_cast<Word>(acc | w);
    }
    std::array<std::uint8_t, sizeof(Word)> bytes;
    std::memcpy(bytes.data(), &acc, sizeof(Word));
    return bytes;
}

}  // namespace

Palette build_palette(const Layout& layout, const std::uint8_t* entries) {
    const std::size_t slots = layout.pixel_kind == PixelKind::Index8 ? 256 : 65536;
    Palette palette;
    palette.rgba.assign(slots * kRecordBytes, 0);
    const std::size_t first = layout.header.map_first_index;
    const std::size_t length = layout.header.map_length;
    palette.first_defined = std::min(first, slots);
    palette.end_defined = std::min(first + length, slots);
    for (std::size_t i = palette.first_defined; i < palette.end_defined; ++i) {
        convert_pixels(layout.map_entry_kind, palette,
                       entries + (i - first) * layout.map_entry_bytes, 1, true,
                       palette.rgba.data() + i * kRecordBytes);
    }
    return palette;
}

void make_opaque(Palette& palette) {
    for (std::size_t i = 3; i < palette.rgba.size(); i += kRecordBytes) {
        palette.rgba[i] = 255;
    }
}

void convert_pixels(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                    std::size_t count, bool keep_alpha, std::uint8_t* out) {
    switch (kind) {
        case PixelKind::Bgr24:
            convert_interleaved(in, count, 3, 255, out);
            return;
        case PixelKind::Bgra32:
            convert_interleaved(in, count, 4, keep_alpha ? 0 : 255, out);
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
            lookup_indices<std::uint8_t>(palette, in, count, out);
            return;
        case PixelKind::Index16:
            lookup_indices<std::uint16_t>(palette, in, count, out);
            return;
    }
}

void mirror_records(std::uint8_t* rgba, std::size_t count) {
    for (std::size_t i = 0, j = count; i + 1 < j; ++i, --j) {
        std::uint8_t tmp[kRecordBytes];
        std::memcpy(tmp, rgba + kRecordBytes * i, kRecordBytes);
        std::memcpy(rgba + kRecordBytes * i, rgba + kRecordBytes * (j - 1), kRecordBytes);
        std::memcpy(rgba + kRecordBytes * (j - 1), tmp, kRecordBytes);
    }
}

bool any_visible_alpha(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                       std::size_t count) {
    switch (kind) {
        case PixelKind::Bgra32:
            return (or_of_pixels<std::uint32_t>(in, count)[3] & 0xFFu) != 0;
        case PixelKind::Word16:
            return (or_of_pixels<std::uint16_t>(in, count)[1] & 0x80u) != 0;
        case PixelKind::GreyAlpha16:
            return (or_of_pixels<std::uint16_t>(in, count)[1] & 0xFFu) != 0;
        case PixelKind::Index8:
            return any_entry_alpha<std::uint8_t>(palette, in, count);
        case PixelKind::Index16:
            return any_entry_alpha<std::uint16_t>(palette, in, count);
        default:
            return count > 0;
    }
}

bool all_indices_present(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                         std::size_t count) {
    return kind == PixelKind::Index8
               ? indices_within<std::uint8_t>(in, count, palette.first_defined, palette.end_defined)
               : indices_within<std::uint16_t>(in, count, palette.first_defined,
                                               palette.end_defined);
}

bool palette_is_whole(const Palette& palette) {
    return palette.first_defined == 0 && palette.end_defined == palette.rgba.size() / kRecordBytes;
}

std::vector<VectorPath> usable_vector_paths() {
    std::vector<VectorPath> paths{VectorPath::Plain};
#ifdef VARNEL_X86_PATHS
    paths.push_back(VectorPath::Sse2);
#endif
    if (best_path() != paths.back()) {
        paths.push_back(best_path());
    }
    return paths;
}

void use_vector_path(VectorPath path) {
    g_path.store(static_cast<int>(path), std::memory_order_relaxed);
}

const char* vector_path_name(VectorPath path) {
    switch (path) {
        case VectorPath::Plain:
            return "plain";
        case VectorPath::Sse2:
            return "SSE2";
        case VectorPath::Ssse3:
            return "SSSE3";
        case VectorPath::Neon:
            return "NEON";
    }
    return "?";
}

}  // namespace varnel::tga
