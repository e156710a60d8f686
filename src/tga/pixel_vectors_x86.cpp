#include "tga/pixel_vectors.hpp"

#ifdef VARNEL_X86_PATHS
#include <immintrin.h>

#include <cstring>

#include "m32/record.hpp"
#include "tga/tga_format.hpp"

namespace varnel::tga::vectors {

namespace {

using m32::kRecordBytes;

// The byte shuffle that turns four B, G, R(, A) pixels into four records; and the one that puts
// the first pixel in all four.
__m128i record_order(unsigned stride) {
    return stride == 3 ? _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1)
                       : _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
}

__m128i first_pixel_order(unsigned stride) {
    return stride == 3 ? _mm_setr_epi8(2, 1, 0, -1, 2, 1, 0, -1, 2, 1, 0, -1, 2, 1, 0, -1)
                       : _mm_setr_epi8(2, 1, 0, 3, 2, 1, 0, 3, 2, 1, 0, 3, 2, 1, 0, 3);
}

__m128i entry_at(const std::uint8_t* table, std::size_t index) {
    std::int32_t entry = 0;
    std::memcpy(&entry, table + kRecordBytes * index, kRecordBytes);
    return _mm_cvtsi32_si128(entry);
}

// Group k of a packet: records 4k to 4k + 3, the packet's repeated record where `repeated` is
// set, else made from the literal pixels.
template <unsigned Stride>
__attribute__((target("ssse3"))) inline void store_group(const std::uint8_t* s, std::size_t k,
                                                         __m128i order, __m128i alpha,
                                                         __m128i repeated, __m128i value,
                                                         std::uint8_t* o) {
    const __m128i literal = _mm_or_si128(
        _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + Stride * 4 * k)),
                         order),
        alpha);
    _mm_storeu_si128(
        reinterpret_cast<__m128i*>(o + 16 * k),
        _mm_or_si128(_mm_and_si128(repeated, value), _mm_andnot_si128(repeated, literal)));
}

// Whole packets straight into records, 4 at a time. Short repeated and literal packets come
// about equally often in paint programs' files, so a branch between them would be mispredicted
// half the time: each packet makes both its repeated record and its literal records, and a mask
// keeps one. Every packet writes at least kFirstRecords records and its 4-pixel groups read 16
// bytes, the last of which may lie past the packet.
constexpr std::size_t kFirstRecords = 40;

template <unsigned Stride>
__attribute__((target("ssse3"))) std::size_t packets_of(const std::uint8_t* window, std::size_t at,
                                                        std::size_t last_start,
                                                        std::uint8_t alpha_or, std::uint8_t*& out,
                                                        std::uint64_t& count) {
    const __m128i order = record_order(Stride);
    const __m128i first_pixel = first_pixel_order(Stride);
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(std::uint32_t{alpha_or} << 24));
    std::uint8_t* o = out;
    while (count >= kFirstRecords && at <= last_start) {
        const std::uint8_t h = window[at];
        const std::size_t n = (h & 0x7Fu) + 1u;
        if ((n + 3) / 4 * 4 > count) {
            break;
        }
        const std::uint8_t* s = window + at + 1;
        const __m128i repeated = _mm_set1_epi8(static_cast<char>(static_cast<signed char>(h) >> 7));
        const __m128i value = _mm_or_si128(
            _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), first_pixel),
            alpha);
        // The first records of every packet, then the rest of a longer one.
        std::size_t k = 0;
        for (; k < kFirstRecords / 4; ++k) {
            store_group<Stride>(s, k, order, alpha, repeated, value, o);
        }
        for (; 4 * k < n; ++k) {
            store_group<Stride>(s, k, order, alpha, repeated, value, o);
        }
        at += 1 + ((h & 0x80u) != 0 ? Stride : Stride * n);
        o += kRecordBytes * n;
        count -= n;
    }
    out = o;
    return at;
}

}  // namespace

// Each 16-byte load of 24-bit pixels uses 12 bytes, so it stops while fewer than 16 bytes are left
// to read.
__attribute__((target("ssse3"))) std::size_t shuffle_pixels(const std::uint8_t* in,
                                                            std::size_t count, unsigned stride,
                                                            std::uint8_t alpha_or,
                                                            std::uint8_t* out) {
    const __m128i order = record_order(stride);
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
std::size_t convert_grey8(const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
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
std::size_t convert_grey_alpha(const std::uint8_t* in, std::size_t count, bool keep_alpha,
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

std::size_t look_up_indices(const std::uint8_t* table, const std::uint8_t* in, std::size_t count,
                            unsigned index_bytes, std::uint8_t* out) {
    const auto index = [&](std::size_t i) {
        return index_bytes == 1 ? std::size_t{in[i]} : std::size_t{load_le16(in + 2 * i)};
    };
    std::size_t i = 0;
    // Four entries gathered in a register go out in one store instead of four.
    for (; i + 4 <= count; i += 4) {
        const __m128i low =
            _mm_unpacklo_epi32(entry_at(table, index(i)), entry_at(table, index(i + 1)));
        const __m128i high =
            _mm_unpacklo_epi32(entry_at(table, index(i + 2)), entry_at(table, index(i + 3)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kRecordBytes * i),
                         _mm_unpacklo_epi64(low, high));
    }
    return i;
}

std::size_t packets_to_records(const std::uint8_t* window, std::size_t length, std::size_t at,
                               unsigned stride, std::uint8_t alpha_or, std::uint8_t*& out,
                               std::uint64_t& count) {
    // From a packet's header on, the window must hold its largest form and the 16 bytes its last
    // group may read.
    const std::size_t margin = 1 + kMostPixelsPerPacket * stride + 16;
    if (length < margin) {
        return at;
    }
    return stride == 3 ? packets_of<3>(window, at, length - margin, alpha_or, out, count)
                       : packets_of<4>(window, at, length - margin, alpha_or, out, count);
}

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
__attribute__((target("avx512f,avx512bw,avx512vbmi"))) std::size_t look_up_index8_permute(
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

}  // namespace varnel::tga::vectors

#endif
