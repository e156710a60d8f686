#include "tga/pixel_convert.hpp"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#include "m32/record.hpp"
#include "tga/pixel_vectors.hpp"

namespace varnel::tga {

namespace {

using m32::kRecordBytes;

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
        return vectors::shuffle_pixels(in, count, stride, alpha_or, out);
    }
#endif
#ifdef VARNEL_NEON_PATH
    if constexpr (P == VectorPath::Neon) {
        return vectors::interleave_neon(in, count, stride, alpha_or, out);
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
        done = vectors::convert_words_avx2(in, count, use_top_bit, out);
    }
#endif
#ifdef VARNEL_X86_PATHS
    if constexpr (kHasSse2<P>) {
        done +=
            vectors::convert_words_sse2(in + 2 * done, count - done, use_top_bit, out + 4 * done);
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
        return stride == 1 ? vectors::convert_grey8(in, count, out)
                           : vectors::convert_grey_alpha(in, count, keep_alpha, out);
    }
#endif
    return 0;
}

template <VectorPath P, typename Index>
std::size_t lookup_vector([[maybe_unused]] const std::uint8_t* table,
                          [[maybe_unused]] const std::uint8_t* in,
                          [[maybe_unused]] std::size_t count, [[maybe_unused]] std::uint8_t* out) {
    std::size_t i = 0;
#ifdef VARNEL_WIDE_PATHS
    if constexpr (P == VectorPath::Avx512 && sizeof(Index) == 1) {
        i = vectors::look_up_index8_permute(table, in, count, out);
    }
#endif
#ifdef VARNEL_X86_PATHS
    if constexpr (kHasSse2<P>) {
        i += vectors::look_up_indices(table, in + sizeof(Index) * i, count - i, sizeof(Index),
                                      out + kRecordBytes * i);
    }
#endif
    return i;
}

// The conversions, one for each kind and alpha setting on each path.

// B, G, R(, A) to R, G, B, A.
template <VectorPath P, unsigned Stride, bool KeepAlpha>
void interleaved(const ColourMap&, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
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
void words(const ColourMap&, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    const std::size_t done = words_vector<P>(in, count, TopBitAlpha, out);
    in += 2 * done;
    out += kRecordBytes * done;
    for (std::size_t i = done; i < count; ++i) {
        const unsigned w = load_le16(in);
        out[0] = widen5((w >> 10) & 0x1Fu);
        out[1] = widen5((w >> 5) & 0x1Fu);
        out[2] = widen5(w & 0x1Fu);
        out[3] = (!TopBitAlpha || (w & 0x8000u) != 0) ? 255 : 0;
        in += 2;
        out += kRecordBytes;
    }
}

template <VectorPath P, unsigned Stride, bool KeepAlpha>
void grey(const ColourMap&, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
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

// The map's entries are taken whole, alpha included: the caller has settled the alpha there (see
// ColourMap::make_opaque), so that no pixel needs a second look.
template <VectorPath P, typename Index>
void indices(const ColourMap& map, const std::uint8_t* in, std::size_t count, std::uint8_t* out) {
    const std::uint8_t* table = map.records();
    for (std::size_t i = lookup_vector<P, Index>(table, in, count, out); i < count; ++i) {
        std::memcpy(out + kRecordBytes * i, table + kRecordBytes * index_at<Index>(in, i),
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

void convert_pixels(PixelKind kind, const ColourMap& map, const std::uint8_t* in, std::size_t count,
                    bool keep_alpha, std::uint8_t* out) {
    converter_for(kind, keep_alpha)(map, in, count, out);
}

void mirror_records(std::uint8_t* rgba, std::size_t count) {
    for (std::size_t i = 0, j = count; i + 1 < j; ++i, --j) {
        std::uint8_t tmp[kRecordBytes];
        std::memcpy(tmp, rgba + kRecordBytes * i, kRecordBytes);
        std::memcpy(rgba + kRecordBytes * i, rgba + kRecordBytes * (j - 1), kRecordBytes);
        std::memcpy(rgba + kRecordBytes * (j - 1), tmp, kRecordBytes);
    }
}

bool any_visible_alpha(PixelKind kind, const ColourMap& map, const std::uint8_t* in,
                       std::size_t count) {
    switch (kind) {
        case PixelKind::Bgra32:
            return (or_of_pixels<std::uint32_t>(in, count)[3] & 0xFFu) != 0;
        case PixelKind::Word16:
            return (or_of_pixels<std::uint16_t>(in, count)[1] & 0x80u) != 0;
        case PixelKind::GreyAlpha16:
            return (or_of_pixels<std::uint16_t>(in, count)[1] & 0xFFu) != 0;
        case PixelKind::Index8:
        case PixelKind::Index16:
            return map.any_alpha(kind, in, count);
        default:
            return count > 0;
    }
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
