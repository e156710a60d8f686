// Colour-mapped images: the map as a table of records, and the indices that name its entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tga/tga_format.hpp"

namespace varnel::tga {

// Index i of `count` 8- or 16-bit indices.
template <typename Index>
std::size_t index_at(const std::uint8_t* indices, std::size_t i) {
    return sizeof(Index) == 1 ? indices[i] : std::size_t{load_le16(indices + 2 * i)};
}

// A colour map as a table with one record for every value an index can take, so that no stored
// index can reach outside it. The file defines one run of entries; the others are not in the map.
class ColourMap {
public:
    // The table's bytes for indices of this kind.
    static std::uint64_t table_bytes(PixelKind index_kind);

    // The table for indices of `index_kind`, from `length` stored entries of `entry_kind`, the
    // first of which has the index `first`; entries beyond what the indices can name are dropped.
    void build(PixelKind index_kind, PixelKind entry_kind, std::size_t first, std::size_t length,
               const std::uint8_t* entries);

    // Makes every entry opaque, for images whose alpha is not kept.
    void make_opaque();

    // True when the map defines every entry an index can name: no index needs checking.
    bool is_whole() const;

    // True when every one of the `count` indices names an entry of the map.
    bool holds(PixelKind index_kind, const std::uint8_t* indices, std::size_t count) const;

    // True when the entry of one of the `count` indices has an alpha other than 0.
    bool any_alpha(PixelKind index_kind, const std::uint8_t* indices, std::size_t count) const;

    // The table: a record for every index.
    const std::uint8_t* records() const;

private:
    std::vector<std::uint8_t> rgba_;
    std::size_t first_defined_ = 0;
    std::size_t end_defined_ = 0;
};

}  // namespace varnel::tga
