#include "tga/pixel_convert.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <limits>
#include <type_traits>

// x86 builds whose target has SSE2 (every x86-64; i686 only when asked for) convert with SSE2,
// and 24- and 32-bit pixels with an SSSE3 byte shuffle where the processor has one. Two wider
// kinds pay for themselves in a whole conversion where the processor has them: 15/16-bit words
// with AVX2 (a tenth of the run), 8-bit colour indices with AVX-512 byte permutes (a fifth);
// not in Windows builds, whose GCC keeps the stack aligned to 16 bytes only and may spill 32- and
// 64-byte registers to it with aligned moves. AArch64 builds convert 24- and 32-bit pixels with
// NEON, which every AArch64 processor has. Everything else, and the pixels at the end of a row,
// goes one pixel at a time.
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define VARNEL_X86_PATHS 1
#include <immintrin.h>
#if !defined(_WIN32)
#define VARNEL_WIDE_PATHS 1
#endif
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
#ifdef VARNEL_WIDE_PATHS
    if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")) {
        return VectorPath::Avx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return VectorPath::Avx2;
    }
#endif
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

VectorPath vector_path_in_use() {
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

#ifdef VARNEL_WIDE_PATHS
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

// The vector part of each conversion, on path P: how many of the pixels it converted, from the
// first on; the plain loops after it convert the rest.

// The paths are tiers: each has everything of the ones before it.
template <VectorPath P>
constexpr bool kHasSse2 = P == VectorPath::Sse2 || P == VectorPath::Ssse3 ||
                          P == VectorPath::Avx2 || P == VectorPath::Avx512;
template <VectorPath P>
constexpr bool kHasSsse3 = kHasSse2<P>&& P != VectorPath::Sse2;
template <VectorPath P>
constexpr bool kHasAvx2 = P == VectorPath::Avx2 || P == VectorPath::Avx512;

template <VectorPath P>
std::size_t interleave_vector([[maybe_unused]] const std::uint8_t* in,
                              [[maybe_unused]] std::size_t count, [[maybe_unused]] unsigned stride,
                              [[maybe_unused]] std::uint8_t alpha_or,
                              [[maybe_unused]] std::uint8_t* out) {
#ifdef VARNEL_X86_PATHS
    if constexpr (kHasSsse3<P>) {
        return shuffle_pixels(in, count, stride, alpha_or, out);
    }
#endif
#ifdef VARNEL_NEON_PATH
    if constexpr (P == VectorPath::Neon) {
        return interleave_neon(in, count, stride, alpha_or, out);
    }
#endif
    return 0;
}

template <VectorPath P>
std::size_t words_vector([[maybe_unused]] const std::uint8_t* in,
                         [[maybe_unused]] std::size_t count, [[maybe_unused]] bool use_top_bit,
                         [[maybe_unused]] std::uint8_t* out) {
    std::size_t done = 0;
#ifdef VARNEL_WIDE_PATHS
    if constexpr (kHasAvx2<P>) {
        done = convert_words_avx2(in, count, use_top_bit, out);
    }
#endif
#ifdef VARNEL_X86_PATHS
    if constexpr (kHasSse2<P>) {
        done += convert_words_sse2(in + 2 * done, count - done, use_top_bit, out + 4 * done);
    }
#endif
    return done;
}

template <VectorPath P>
std::size_t grey_vector([[maybe_unused]] const std::uint8_t* in, [[maybe_unused]] std::size_t count,
                        [[maybe_unused]] unsigned stride, [[maybe_unused]] bool keep_alpha,
                        [[maybe_unused]] std::uint8_t* out) {
#ifdef VARNEL_X86_PATHS
    if constexpr (kHasSse2<P>) {
        return stride == 1 ? convert_grey8_sse2(in, count, out)
                           : convert_grey_alpha_sse2(in, count, keep_alpha, out);
    }
#endif
    return 0;
}

template <typename Index>
std::size_t index_of(const std::uint8_t* in, std::size_t i) {
    return sizeof(Index) == 1 ? in[i] : std::size_t{load16(in + 2 * i)};
}

template <VectorPath P, typename Index>
std::size_t lookup_vector([[maybe_unused]] const std::uint8_t* table,
                          [[maybe_unused]] const std::uint8_t* in,
                          [[maybe_unused]] std::size_t count, [[maybe_unused]] std::uint8_t* out) {
    std::size_t i = 0;
#ifdef VARNEL_WIDE_PATHS
    if constexpr (P == VectorPath::Avx512 && sizeof(Index) == 1) {
        i = lookup_index8_permute(table, in, count, out);
    }
#endif
#ifdef VARNEL_X86_PATHS
    // Four entries gathered in a register go out in one store instead of four.
    if constexpr (kHasSse2<P>) {
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
    return i;
}

// The conversions, one for each kind and alpha setting on each path.

// B, G, R(, A) to R, G, B, A.
template <VectorPath P, unsigned Stride, bool KeepAlpha>
void interleaved(const Palette&, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    constexpr std::uint8_t alpha_or = Stride == 4 && KeepAlpha ? 0 : 255;
    const std::size_t done = interleave_vector<P>(in, count, Stride, alpha_or, out);
    in += done * Stride;
    out += done * kRecordBytes;
    for (std::size_t i = done; i < count; ++i) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        out[3] = static_cast<std::uint8_t>((Stride == 4 ? in[Stride - 1] : 0) | alpha_or);
        in += Stride;
        out += kRecordBytes;
    }
}

// A RRRRR GGGGG BBBBB; the top bit is alpha only for Word16 whose alpha is kept.
template <VectorPath P, bool TopBitAlpha>
void words(const Palette&, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    const std::size_t done = words_vector<P>(in, count, TopBitAlpha, out);
    in += 2 * done;
    out += kRecordBytes * done;
    for (std::size_t i = done; i < count; ++i) {
        const unsigned w = load16(in);
        out[0] = widen5((w >> 10) & 0x1Fu);
        out[1] = widen5((w >> 5) & 0x1Fu);
        out[2] = widen5(w & 0x1Fu);
        out[3] = (!TopBitAlpha || (w & 0x8000u) != 0) ? 255 : 0;
        in += 2;
        out += kRecordBytes;
    }
}

template <VectorPath P, unsigned Stride, bool KeepAlpha>
void grey(const Palette&, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    const std::size_t done = grey_vector<P>(in, count, Stride, KeepAlpha, out);
    in += Stride * done;
    out += kRecordBytes * done;
    for (std::size_t i = done; i < count; ++i) {
        out[0] = out[1] = out[2] = in[0];
        out[3] = (Stride == 2 && KeepAlpha) ? in[Stride - 1] : 255;
        in += Stride;
        out += kRecordBytes;
    }
}

// The palette's entries are taken whole, alpha included: the caller has settled the alpha there
// (see make_opaque), so that no pixel needs a second look.
template <VectorPath P, typename Index>
void indices(const Palette& palette, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    const std::uint8_t* table = palette.rgba.data();
    for (std::size_t i = lookup_vector<P, Index>(table, in, count, out); i < count; ++i) {
        std::memcpy(out + kRecordBytes * i, table + kRecordBytes * index_of<Index>(in, i),
                    kRecordBytes);
    }
}

template <VectorPath P>
Converter converter_on(PixelKind kind, bool keep_alpha) {
    switch (kind) {
        case PixelKind::Bgr24:
            return interleaved<P, 3, false>;
        case PixelKind::Bgra32:
            return keep_alpha ? interleaved<P, 4, true> : interleaved<P, 4, false>;
        case PixelKind::Word15:
            return words<P, false>;
        case PixelKind::Word16:
            return keep_alpha ? words<P, true> : words<P, false>;
        case PixelKind::Grey8:
            return grey<P, 1, false>;
        case PixelKind::GreyAlpha16:
            return keep_alpha ? grey<P, 2, true> : grey<P, 2, false>;
        case PixelKind::Index8:
            return indices<P, std::uint8_t>;
        case PixelKind::Index16:
            return indices<P, std::uint16_t>;
    }
    return interleaved<P, 3, false>;
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

std::size_t palette_slots(PixelKind index_kind) {
    return index_kind == PixelKind::Index8 ? 256 : 65536;
}

Palette build_palette(const Layout& layout, const std::uint8_t* entries) {
    const std::size_t slots = palette_slots(layout.pixel_kind);
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

Converter converter_for(PixelKind kind, bool keep_alpha) {
    switch (vector_path_in_use()) {
#ifdef VARNEL_X86_PATHS
        case VectorPath::Sse2:
            return converter_on<VectorPath::Sse2>(kind, keep_alpha);
        case VectorPath::Ssse3:
            return converter_on<VectorPath::Ssse3>(kind, keep_alpha);
#endif
#ifdef VARNEL_WIDE_PATHS
        case VectorPath::Avx2:
            return converter_on<VectorPath::Avx2>(kind, keep_alpha);
        case VectorPath::Avx512:
            return converter_on<VectorPath::Avx512>(kind, keep_alpha);
#endif
#ifdef VARNEL_NEON_PATH
        case VectorPath::Neon:
            return converter_on<VectorPath::Neon>(kind, keep_alpha);
#endif
        default:
            return converter_on<VectorPath::Plain>(kind, keep_alpha);
    }
}

void convert_pixels(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                    std::size_t count, bool keep_alpha, std::uint8_t* out) {
    converter_for(kind, keep_alpha)(palette, in, count, out);
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
    const VectorPath best = best_path();
#ifdef VARNEL_X86_PATHS
    // Every tier up to the best one.
    for (const VectorPath tier :
         {VectorPath::Sse2, VectorPath::Ssse3, VectorPath::Avx2, VectorPath::Avx512}) {
        if (static_cast<int>(tier) <= static_cast<int>(best)) {
            paths.push_back(tier);
        }
    }
#else
    if (best != VectorPath::Plain) {
        paths.push_back(best);
    }
#endif
    return paths;
}

bool byte_shuffle_in_use() {
    const VectorPath path = vector_path_in_use();
    return path == VectorPath::Ssse3 || path == VectorPath::Avx2 || path == VectorPath::Avx512;
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
        case VectorPath::Avx2:
            return "AVX2";
        case VectorPath::Avx512:
            return "AVX-512";
        case VectorPath::Neon:
            return "NEON";
    }
    return "?";
}

}  // namespace varnel::tga
