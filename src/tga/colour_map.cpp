#include "tga/colour_map.hpp"

#include <algorithm>
#include <limits>
#include <type_traits>

#include "m32/record.hpp"
#include "tga/pixel_convert.hpp"

namespace varnel::tga {

namespace {

using m32::kRecordBytes;

std::size_t slots(PixelKind index_kind) {
    return index_kind == PixelKind::Index8 ? 256 : 65536;
}

// Indices are checked by their smallest and largest value, a loop the compiler turns into vector
// code when the values are of the indices' own width. SSE2 has an unsigned minimum and maximum
// for bytes only, so 16-bit indices are compared with their top bit flipped, which maps unsigned
// order onto signed order.
template <typename Index>
bool indices_within(const std::uint8_t* in, std::size_t count, std::size_t first, std::size_t end) {
    using Ordered = std::conditional_t<sizeof(Index) == 1, std::uint8_t, std::int16_t>;
    constexpr std::size_t flip = sizeof(Index) == 1 ? 0 : 0x8000;
    Ordered low = std::numeric_limits<Ordered>::max();
    Ordered high = std::numeric_limits<Ordered>::min();
    for (std::size_t i = 0; i < count; ++i) {
        const auto index = static_cast<Ordered>(index_at<Index>(in, i) ^ flip);
        low = std::min(low, index);
        high = std::max(high, index);
    }
    const std::size_t lowest = static_cast<Index>(low) ^ flip;
    const std::size_t highest = static_cast<Index>(high) ^ flip;
    return count == 0 || (lowest >= first && highest < end);
}

template <typename Index>
bool any_entry_alpha(const std::vector<std::uint8_t>& rgba, const std::uint8_t* in,
                     std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (rgba[kRecordBytes * index_at<Index>(in, i) + 3] != 0) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::uint64_t ColourMap::table_bytes(PixelKind index_kind) {
    return slots(index_kind) * kRecordBytes;
}

void ColourMap::build(PixelKind index_kind, PixelKind entry_kind, std::size_t first,
                      std::size_t length, const std::uint8_t* entries) {
    const std::size_t table = slots(index_kind);
    rgba_.assign(table * kRecordBytes, 0);
    first_defined_ = std::min(first, table);
    end_defined_ = std::min(first + length, table);
    convert_pixels(entry_kind, *this, entries, end_defined_ - first_defined_, true,
                   rgba_.data() + first_defined_ * kRecordBytes);
}

void ColourMap::make_opaque() {
    for (std::size_t i = 3; i < rgba_.size(); i += kRecordBytes) {
        rgba_[i] = 255;
    }
}

bool ColourMap::is_whole() const {
    return first_defined_ == 0 && end_defined_ == rgba_.size() / kRecordBytes;
}

bool ColourMap::holds(PixelKind index_kind, const std::uint8_t* indices, std::size_t count) const {
    return index_kind == PixelKind::Index8
               ? indices_within<std::uint8_t>(indices, count, first_defined_, end_defined_)
               : indices_within<std::uint16_t>(indices, count, first_defined_, end_defined_);
}

bool ColourMap::any_alpha(PixelKind index_kind, const std::uint8_t* indices,
                          std::size_t count) const {
    return index_kind == PixelKind::Index8 ? any_entry_alpha<std::uint8_t>(rgba_, indices, count)
                                           : any_entry_alpha<std::uint16_t>(rgba_, indices, count);
}

const std::uint8_t* ColourMap::records() const {
    return rgba_.data();
}

}  // namespace varnel::tga
