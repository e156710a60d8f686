// The M32 file, offsets in bytes from its start, numbers little-endian:
//     0     4  leading word, the value 4: 04 00 00 00
//     4   252  header name, without terminator, then zero bytes up to offset 256
//   256   712  header block: bytes 256 to 967 of the resolution template, unchanged
//   968  4 x width x height  pixel records R, G, B, A; top row first, left to right
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "m32/record.hpp"
#include "platform/file.hpp"

namespace varnel::m32 {

inline constexpr std::size_t kHeaderStartSize = 256;
inline constexpr std::size_t kTemplateBlockOffset = 256;
inline constexpr std::size_t kTemplateBlockSize = 712;
inline constexpr std::size_t kPixelRecordsOffset = 968;

using HeaderStart = std::array<std::uint8_t, kHeaderStartSize>;
using TemplateBlock = std::array<std::uint8_t, kTemplateBlockSize>;

// The header name field holds at most this many characters (the rest of its 252 bytes is zero).
inline constexpr std::size_t kMaxHeaderName = 99;

// Offsets 0 to 255; none for a name longer than kMaxHeaderName characters.
std::optional<HeaderStart> make_header_start(const std::string& header_name);

// The bytes before the records.
std::vector<std::uint8_t> file_head(const HeaderStart& start, const TemplateBlock& block);

enum class TemplateRead {
    Ok,
    Missing,     // no file of that name, or a folder or device
    TooShort,    // shorter than 968 bytes
    Unreadable,  // there, but it cannot be opened or read
};

// Bytes 256 to 967 of a resolution template as it was opened, which must be at least 968 bytes
// long.
TemplateRead read_template(const platform::File& file, platform::File::Opened opened,
                           TemplateBlock& block);

}  // namespace varnel::m32
