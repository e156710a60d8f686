// Turning stored pixels into R, G, B, A records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tga/colour_map.hpp"
#include "tga/tga_format.hpp"

namespace varnel::tga {

// Converts `count` stored pixels of one kind into records.
using Converter = void (*)(const ColourMap& map, const std::uint8_t* in, std::size_t count,
                           std::uint8_t* out);

// The converter for a kind, on the vector path in use. With keep_alpha false, A is 255. Indices
// take the map's entries as they are, alpha included (other kinds do not use the map): an image
// whose alpha is not kept has its map made opaque first.
Converter converter_for(PixelKind kind, bool keep_alpha);

void convert_pixels(PixelKind kind, const ColourMap& map, const std::uint8_t* in, std::size_t count,
                    bool keep_alpha, std::uint8_t* out);

// Reverses the order of `count` records in place, for rows stored right to left.
void mirror_records(std::uint8_t* rgba, std::size_t count);

// True when some of the `count` pixels carry an alpha other than 0 (always, for kinds without
// alpha).
bool any_visible_alpha(PixelKind kind, const ColourMap& map, const std::uint8_t* in,
                       std::size_t count);

// The ways pixels are converted: one pixel at a time, or many at once with the vector
// instructions of the processor's family. Every way makes the same bytes.
enum class VectorPath {
    Plain,
    Sse2,    // x86: grey, 15/16-bit words and colour indices
    Ssse3,   // x86: SSE2, and 24- and 32-bit pixels with a byte shuffle
    Avx2,    // x86: SSSE3, and 15/16-bit words 16 at a time
    Avx512,  // x86: AVX2, and 8-bit colour indices with byte permutes
    Neon,    // AArch64: 24- and 32-bit pixels
};

// The paths this build holds that this processor can run, the plain one first and the one
// conversions use by default last.
std::vector<VectorPath> usable_vector_paths();

// True when the path in use shuffles bytes (SSSE3 and the tiers above it), as RLE packets of 24-
// and 32-bit pixels are made into records too.
bool byte_shuffle_in_use();

// Makes conversions use `path`, which must be usable; for tests that hold every path against
// the plain one.
void use_vector_path(VectorPath path);

const char* vector_path_name(VectorPath path);

}  // namespace varnel::tga
