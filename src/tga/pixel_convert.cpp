#include "tga/pixel_convert.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

// On x86 the 24- and 32-bit kinds are converted 8 pixels at a time with a byte shuffle (AVX2) or
// 4 at a time (SSSE3), 15/16-bit words 16 at a time with AVX2, 8-bit indices 64 at a time with
// AVX-512 byte permutes, each chosen at run time (the AVX2 and AVX-512 paths not on Windows), and
// what those leave, with grey pixels, 4 to 16 at a time with SSE2 (always there on x86-64);
// elsewhere, and for the last pixels of a row, one at a time. Every path makes the same bytes: the
// unit tests hold each against the plain loop.
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#define VARNEL_SHUFFLE_PATH 1
#include <immintrin.h>
// Not on Windows: GCC there keeps the stack aligned to 16 bytes only, and may spill 32- and
// 64-byte registers to it with aligned moves.
#if !defined(_WIN32)
#define VARNEL_WIDE_PATH 1
#endif
#endif
#if defined(__SSE2__)
#define VARNEL_SSE2_PATH 1
#include <emmintrin.h>
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

#ifdef VARNEL_WIDE_PATH
bool has_avx2() {
    static const bool available = __builtin_cpu_supports("avx2") != 0;
    return available;
}

// As shuffle_pixels, 8 pixels at a time. The byte shuffle works within 128-bit lanes, so 24-bit
// pixels 4 to 7 (bytes 12 to 23) are first moved into the upper lane; the 32-byte load of 24-bit
// pixels reads 8 bytes past them, so it stops while fewer than 11 pixels are left.
template <unsigned Stride>
__attribute__((target("avx2"))) std::size_t shuffle_pixels_avx2(const std::uint8_t* in,
                                                                std::size_t count,
                                                                std::uint8_t alpha_or,
                                                                std::uint8_t* out) {
    const __m256i order =
        Stride == 3 ? _mm256_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1, 2, 1,
                                       0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1)
                    : _mm256_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15, 2, 1,
                                       0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 3, 3, 4, 5, 6);
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(std::uint32_t{alpha_or} << 24));
    const std::size_t reach = Stride == 3 ? 11 : 8;
    std::size_t done = 0;
    for (; done + reach <= count; done += 8) {
        __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        if constexpr (Stride == 3) {
            v = _mm256_permutevar8x32_epi32(v, spread);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                            _mm256_or_si256(_mm256_shuffle_epi8(v, order), alpha));
        in += 8 * Stride;
        out += 32;
    }
    return done;
}
#endif

std::size_t fast_pixels(const std::uint8_t* in, std::size_t count, unsigned stride,
                        std::uint8_t alpha_or, std::uint8_t* out) {
    std::size_t done = 0;
#ifdef VARNEL_WIDE_PATH
    if (has_avx2()) {
        done = stride == 3 ? shuffle_pixels_avx2<3>(in, count, alpha_or, out)
                           : shuffle_pixels_avx2<4>(in, count, alpha_or, out);
    }
#endif
#ifdef VARNEL_SHUFFLE_PATH
    if (has_shuffle()) {
        done += shuffle_pixels(in + stride * done, count - done, stride, alpha_or, out + 4 * done);
    }
#else
    (void)in;
    (void)count;
    (void)stride;
    (void)alpha_or;
    (void)out;
#endif
    return done;
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

#ifdef VARNEL_SSE2_PATH
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

#ifdef VARNEL_WIDE_PATH
// The same as convert_words_sse2, 16 words at a time. Interleaving works within 128-bit lanes,
// so the two halves of the records are put back in order at the end.
__attribute__((target("avx2"))) std::size_t convert_words_avx2(const std::uint8_t* in,
                                                               std::size_t count, bool use_top_bit,
                                                               std::uint8_t* out) {
    const __m256i red_bits = _mm256_set1_epi16(0x7C00);
    const __m256i green_bits = _mm256_set1_epi16(0x03E0);
    const __m256i blue_bits = _mm256_set1_epi16(0x001F);
    const __m256i high_byte = _mm256_set1_epi16(-256);
    std::size_t done = 0;
    for (; done + 16 <= count; done += 16) {
        const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 2 * done));
        const __m256i r = _mm256_mulhi_epu16(_mm256_and_si256(w, red_bits), _mm256_set1_epi16(528));
        const __m256i g_high = _mm256_and_si256(
            _mm256_mullo_epi16(_mm256_and_si256(w, green_bits), _mm256_set1_epi16(66)), high_byte);
        const __m256i b = _mm256_srli_epi16(
            _mm256_mullo_epi16(_mm256_and_si256(w, blue_bits), _mm256_set1_epi16(33)), 2);
        const __m256i a_high =
            use_top_bit ? _mm256_and_si256(_mm256_srai_epi16(w, 15), high_byte) : high_byte;
        const __m256i rg = _mm256_or_si256(r, g_high);
        const __m256i ba = _mm256_or_si256(b, a_high);
        const __m256i low = _mm256_unpacklo_epi16(rg, ba);   // pixels 0-3 and 8-11
        const __m256i high = _mm256_unpackhi_epi16(rg, ba);  // pixels 4-7 and 12-15
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * done),
                            _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * done + 32),
                            _mm256_permute2x128_si256(low, high, 0x31));
    }
    return done;
}
#endif

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
#endif

// A RRRRR GGGGG BBBBB; the top bit is alpha only for Word16.
void convert_words(const std::uint8_t* in, std::size_t count, bool use_top_bit, std::uint8_t* out) {
    std::size_t done = 0;
#ifdef VARNEL_WIDE_PATH
    if (has_avx2()) {
        done = convert_words_avx2(in, count, use_top_bit, out);
    }
#endif
#ifdef VARNEL_SSE2_PATH
    done += convert_words_sse2(in + 2 * done, count - done, use_top_bit, out + 4 * done);
#endif
    in += 2 * done;
    out += 4 * done;
    for (std::size_t i = done; i < count; ++i) {
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
    std::size_t done = 0;
#ifdef VARNEL_SSE2_PATH
    done = stride == 1 ? convert_grey8_sse2(in, count, out)
                       : convert_grey_alpha_sse2(in, count, keep_alpha, out);
#endif
    in += stride * done;
    out += 4 * done;
    for (std::size_t i = done; i < count; ++i) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = (stride == 2 && keep_alpha) ? in[1] : 255;
        in += stride;
        out += 4;
    }
}

template <typename Index>
std::size_t index_of(const std::uint8_t* in, std::size_t i) {
    return sizeof(Index) == 1 ? in[i] : std::size_t{load16(in + 2 * i)};
}

#ifdef VARNEL_SSE2_PATH
__m128i entry_at(const std::uint8_t* table, std::size_t index) {
    std::int32_t entry = 0;
    std::memcpy(&entry, table + 4 * index, 4);
    return _mm_cvtsi32_si128(entry);
}
#endif

#ifdef VARNEL_WIDE_PATH
bool has_byte_permute() {
    static const bool available =
        __builtin_cpu_supports("avx512bw") != 0 && __builtin_cpu_supports("avx512vbmi") != 0;
    return available;
}

// 8-bit indices 64 at a time with AVX-512 byte permutes (VBMI): each channel of the 256 entries
// is laid out as a run of 256 bytes, four registers, and a pair of two-register permutes picks a
// channel for 64 indices, the indices' top bit choosing the pair. Worth the set-up only for whole
// rows; returns how many pixels it converted. The masked forms of the permutes and shuffles, with
// every lane selected, stand in for the plain ones, whose undefined source operand GCC 12 warns
// about.
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t lookup_index8_permute(
    const std::uint8_t* table, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    if (count < 256) {
        return 0;
    }
    // Within each 16 entries (64 bytes), byte j of the result is channel j / 16 of entry j % 16.
    alignas(64) std::uint8_t by_channel[64];
    for (unsigned j = 0; j < 64; ++j) {
        by_channel[j] = static_cast<std::uint8_t>(4 * (j % 16) + j / 16);
    }
    const __m512i gather = _mm512_load_si512(by_channel);
    alignas(64) std::uint8_t planes[4][256];
    for (unsigned k = 0; k < 16; ++k) {
        alignas(64) std::uint8_t grouped[64];
        _mm512_store_si512(grouped, _mm512_maskz_permutexvar_epi8(
                                        ~__mmask64{0}, gather, _mm512_loadu_si512(table + 64 * k)));
        for (unsigned c = 0; c < 4; ++c) {
            std::memcpy(planes[c] + 16 * k, grouped + 16 * c, 16);
        }
    }
    __m512i plane[4][4];
    for (unsigned c = 0; c < 4; ++c) {
        for (unsigned q = 0; q < 4; ++q) {
            plane[c][q] = _mm512_load_si512(planes[c] + 64 * q);
        }
    }
    std::size_t done = 0;
    for (; done + 64 <= count; done += 64) {
        const __m512i index = _mm512_loadu_si512(in + done);
        const __mmask64 upper = _mm512_movepi8_mask(index);
        __m512i channel[4];
        for (unsigned c = 0; c < 4; ++c) {
            channel[c] = _mm512_mask_blend_epi8(
                upper, _mm512_permutex2var_epi8(plane[c][0], index, plane[c][1]),
                _mm512_permutex2var_epi8(plane[c][2], index, plane[c][3]));
        }
        // Interleaving works within 128-bit lanes: quarter q holds, in lane L, the records of
        // pixels 16 L + 4 q to 16 L + 4 q + 3; the lane shuffles put them back in order.
        const __m512i rg_low = _mm512_unpacklo_epi8(channel[0], channel[1]);
        const __m512i rg_high = _mm512_unpackhi_epi8(channel[0], channel[1]);
        const __m512i ba_low = _mm512_unpacklo_epi8(channel[2], channel[3]);
        const __m512i ba_high = _mm512_unpackhi_epi8(channel[2], channel[3]);
        const __m512i q0 = _mm512_unpacklo_epi16(rg_low, ba_low);
        const __m512i q1 = _mm512_unpackhi_epi16(rg_low, ba_low);
        const __m512i q2 = _mm512_unpacklo_epi16(rg_high, ba_high);
        const __m512i q3 = _mm512_unpackhi_epi16(rg_high, ba_high);
        const __m512i lanes01_q01 =
            _mm512_maskz_shuffle_i64x2(0xFF, q0, q1, _MM_SHUFFLE(1, 0, 1, 0));
        const __m512i lanes01_q23 =
            _mm512_maskz_shuffle_i64x2(0xFF, q2, q3, _MM_SHUFFLE(1, 0, 1, 0));
        const __m512i lanes23_q01 =
            _mm512_maskz_shuffle_i64x2(0xFF, q0, q1, _MM_SHUFFLE(3, 2, 3, 2));
        const __m512i lanes23_q23 =
            _mm512_maskz_shuffle_i64x2(0xFF, q2, q3, _MM_SHUFFLE(3, 2, 3, 2));
        std::uint8_t* o = out + 4 * done;
        _mm512_storeu_si512(
            o, _mm512_maskz_shuffle_i64x2(0xFF, lanes01_q01, lanes01_q23, _MM_SHUFFLE(2, 0, 2, 0)));
        _mm512_storeu_si512(o + 64, _mm512_maskz_shuffle_i64x2(0xFF, lanes01_q01, lanes01_q23,
                                                               _MM_SHUFFLE(3, 1, 3, 1)));
        _mm512_storeu_si512(o + 128, _mm512_maskz_shuffle_i64x2(0xFF, lanes23_q01, lanes23_q23,
                                                                _MM_SHUFFLE(2, 0, 2, 0)));
        _mm512_storeu_si512(o + 192, _mm512_maskz_shuffle_i64x2(0xFF, lanes23_q01, lanes23_q23,
                                                                _MM_SHUFFLE(3, 1, 3, 1)));
    }
    return done;
}
#endif

// The palette's entries are taken whole, alpha included: the caller has settled the alpha there
// (see make_opaque), so that no pixel needs a second look.
template <typename Index>
void lookup_indices(const Palette& palette, const std::uint8_t* in, std::size_t count,
                    std::uint8_t* out) {
    const std::uint8_t* table = palette.rgba.data();
    std::size_t i = 0;
#ifdef VARNEL_WIDE_PATH
    if (sizeof(Index) == 1 && has_byte_permute()) {
        i = lookup_index8_permute(table, in, count, out);
    }
#endif
#ifdef VARNEL_SSE2_PATH
    // Four entries gathered in a register go out in one store instead of four.
    for (; i + 4 <= count; i += 4) {
        const __m128i low = _mm_unpacklo_epi32(entry_at(table, index_of<Index>(in, i)),
                                               entry_at(table, index_of<Index>(in, i + 1)));
        const __m128i high = _mm_unpacklo_epi32(entry_at(table, index_of<Index>(in, i + 2)),
                                                entry_at(table, index_of<Index>(in, i + 3)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * i), _mm_unpacklo_epi64(low, high));
    }
#endif
    for (; i < count; ++i) {
        std::memcpy(out + 4 * i, table + 4 * index_of<Index>(in, i), 4);
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
        if (palette.rgba[4 * index_of<Index>(in, i) + 3] != 0) {
            return true;
        }
    }
    return false;
}

// The bytes of `count` pixels of Word's size ORed together, in stored order: a whole row in one
// loop without a branch, which the compiler turns into vector code. Byte k of the result is set
// where byte k of some pixel is.
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
    palette.rgba.assign(slots * 4, 0);
    const std::size_t first = layout.header.map_first_index;
    const std::size_t length = layout.header.map_length;
    palette.first_defined = std::min(first, slots);
    palette.end_defined = std::min(first + length, slots);
    for (std::size_t i = palette.first_defined; i < palette.end_defined; ++i) {
        convert_pixels(layout.map_entry_kind, palette,
                       entries + (i - first) * layout.map_entry_bytes, 1, true,
                       palette.rgba.data() + i * 4);
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
            lookup_indices<std::uint8_t>(palette, in, count, out);
            return;
        case PixelKind::Index16:
            lookup_indices<std::uint16_t>(palette, in, count, out);
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
    return palette.first_defined == 0 && palette.end_defined == palette.rgba.size() / 4;
}

}  // namespace varnel::tga
