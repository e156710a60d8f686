// The vector code of each processor family. Each function converts whole groups of pixels from the
// first on and returns how many it converted; the plain loops convert the rest. x86 builds whose
// target has SSE2 (every x86-64; i686 only when asked for) hold SSE2 and SSSE3 code, and AVX2 and
// AVX-512 code where the compiler keeps the stack aligned for their registers (not in Windows
// builds, whose GCC keeps it aligned to 16 bytes only and may spill wider registers to it with
// aligned moves). AArch64 builds hold NEON code, which every AArch64 processor has.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define VARNEL_X86_PATHS 1
#if !defined(_WIN32)
#define VARNEL_WIDE_PATHS 1
#endif
#endif
#if defined(__aarch64__) && defined(__ARM_NEON)
#define VARNEL_NEON_PATH 1
#endif

namespace varnel::tga::vectors {

#ifdef VARNEL_X86_PATHS
// B, G, R(, A) pixels of `stride` bytes into records, ORing alpha_or into each A (SSSE3).
std::size_t shuffle_pixels(const std::uint8_t* in, std::size_t count, unsigned stride,
                           std::uint8_t alpha_or, std::uint8_t* out);
// 15/16-bit words; the top bit is alpha with use_top_bit (SSE2).
std::size_t convert_words_sse2(const std::uint8_t* in, std::size_t count, bool use_top_bit,
                               std::uint8_t* out);
// 8-bit grey, and grey with alpha (SSE2).
std::size_t convert_grey8(const std::uint8_t* in, std::size_t count, std::uint8_t* out);
std::size_t convert_grey_alpha(const std::uint8_t* in, std::size_t count, bool keep_alpha,
                               std::uint8_t* out);
// Colour indices of `index_bytes` looked up in a table of records, four stored at once (SSE2).
std::size_t look_up_indices(const std::uint8_t* table, const std::uint8_t* in, std::size_t count,
                            unsigned index_bytes, std::uint8_t* out);
// Whole RLE packets of `stride`-byte pixels (24 or 32 bits) from window[at] on, straight into
// records, while `count` and the window's `length` bytes surely hold the next packet (SSSE3).
// Returns where in the window the packets taken end; `out` and `count` move on with them.
std::size_t packets_to_records(const std::uint8_t* window, std::size_t length, std::size_t at,
                               unsigned stride, std::uint8_t alpha_or, std::uint8_t*& out,
                               std::uint64_t& count);
#endif

#ifdef VARNEL_WIDE_PATHS
// 15/16-bit words, 16 at a time (AVX2).
std::size_t convert_words_avx2(const std::uint8_t* in, std::size_t count, bool use_top_bit,
                               std::uint8_t* out);
// 8-bit indices, 64 at a time (AVX-512 VBMI); only for runs of 256 or more.
std::size_t look_up_index8_permute(const std::uint8_t* table, const std::uint8_t* in,
                                   std::size_t count, std::uint8_t* out);
#endif

#ifdef VARNEL_NEON_PATH
// B, G, R(, A) pixels of `stride` bytes into records, ORing alpha_or into each A.
std::size_t interleave_neon(const std::uint8_t* in, std::size_t count, unsigned stride,
                            std::uint8_t alpha_or, std::uint8_t* out);
#endif

}  // namespace varnel::tga::vectors
