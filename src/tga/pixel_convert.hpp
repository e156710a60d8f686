// Turning stored pixels into R, G, B, A records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tga/tga_format.hpp"

namespace varnel::tga {

// A colour map as a lookup table with one R, G, B, A entry for every value an index can take
// (256 or 65536), so that no stored index can reach outside it. The file defines the entries from
// first_defined up to, not including, end_defined: a colour map is one run of entries.
struct Palette {
    std::vector<std::uint8_t> rgba;
    std::size_t first_defined = 0;
    std::size_t end_defined = 0;
};

// Builds the table from the colour map's stored entries; entries whose index lies beyond what
// the pixels can name are dropped.
Palette build_palette(const Layout& layout, const std::uint8_t* entries);

// Converts `count` stored pixels. With keep_alpha false, A is 255. Indices take the palette's
// entries as they are, alpha included (other kinds do not use the palette): an image whose alpha
// is not kept has its palette made opaque first.
void convert_pixels(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                    std::size_t count, bool keep_alpha, std::uint8_t* out);

// Reverses the order of `count` R, G, B, A records in place, for rows stored right to left.
void mirror_records(std::uint8_t* rgba, std::size_t count);

// True when some of the `count` pixels carry an alpha other than 0 (always, for kinds without
// alpha).
bool any_visible_alpha(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                       std::size_t count);

// True when every one of the `count` indices names an entry of the colour map.
bool all_indices_present(PixelKind kind, const Palette& palette, const std::uint8_t* in,
                         std::size_t count);

// True when the colour map defines every entry an index can name: no index needs checking.
bool palette_is_whole(const Palette& palette);

}  // namespace varnel::tga
