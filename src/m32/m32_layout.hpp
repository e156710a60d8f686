// The M32 file, offsets in bytes from its start, numbers little-endian:
//     0     4  leading word, the value 4: 04 00 00 00
//     4   252  header name, without terminator, then zero bytes up to offset 256
//   256   712  header block: bytes 256 to 967 of the resolution template, unchanged
//   968  4 x width x height  pixel records R, G, B, A; top row first, left to right
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "m32/record.hpp"
#include "platform/file.hpp"
#include "platform/output_file.hpp"

namespace varnel::m32 {

inline constexpr std::size_t kHeaderStartSize = 256;
inline constexpr std::size_t kTemplateBlockOffset = 256;
inline constexpr std::size_t kTemplateBlockSize = 712;
inline constexpr std::size_t kPixelRecordsOffset = 968;

using HeaderStart = std::array<std::uint8_t, kHeaderStartSize>;
using TemplateBlock = std::array<std::uint8_t, kTemplateBlockSize>;

// The header name field holds at most this many characters (the rest of its 252 bytes is zero).
inline constexpr std::size_t kMaxHeaderName = 99;

// Offsets 0 to 255. The name must hold at most kMaxHeaderName characters.
HeaderStart make_header_start(const std::string& header_name);

// An M32 file of width x height records whose blocks come in `order`: the header start and the
// template block before the records.
platform::OutputFile::Shape file_shape(const HeaderStart& start, const TemplateBlock& block,
                                       std::uint16_t width, std::uint16_t height, RowOrder order);

enum class TemplateRead {
    Ok,
    Missing,     // no file of that name, or a folder or device
    TooShort,    // shorter than 968 bytes
    Unreadable,  // there, but it cannot be opened or read
};

// The resolution templates one worker has read, each kept with the state its file had, so that a
// template used again costs only a look at its file, unless the file has changed.
class Templates {
public:
    // Bytes 256 to 967 of the resolution template, which must be at least 968 bytes long. `seen`
    // is the state the caller has just seen the file in, if it saw one; `key` gets the file's.
    TemplateRead read(const std::string& path, const platform::FileState* seen,
                      TemplateBlock& block, platform::FileKey& key);

private:
    std::map<std::string, std::pair<platform::FileState, TemplateBlock>> read_;
};

}  // namespace varnel::m32
