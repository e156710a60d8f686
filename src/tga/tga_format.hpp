// The TGA header, and what it says about where and how the pixels are stored.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace varnel::tga {

// Header, 18 bytes, little-endian:
//   0  id length        bytes of the image ID field that follows the header
//   1  colour-map type  0 none, 1 present
//   2  image type       1 mapped, 2 true colour, 3 grey; 9, 10, 11 the same run-length encoded
//   3  2 bytes          first entry index of the colour map
//   5  2 bytes          colour-map length in entries
//   7  1 byte           colour-map entry size in bits
//   8  4 bytes          x and y origin (screen position, ignored)
//  12  2 bytes          width
//  14  2 bytes          height
//  16  1 byte           pixel depth in bits
//  17  descriptor       bits 0-3 alpha bits, bit 4 right-to-left, bit 5 top-to-bottom,
//                       bits 6-7 interleaving
// Then the ID field, the colour map (when the map type is 1, whatever the image type), the pixels.
inline constexpr std::size_t kHeaderSize = 18;

// Numbers in the file are little-endian.
inline std::uint16_t load_le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t load_le32(const std::uint8_t* p) {
    return std::uint32_t{load_le16(p)} | std::uint32_t{load_le16(p + 2)} << 16;
}

// An RLE packet (image types 9, 10, 11) carries at most this many pixels.
inline constexpr unsigned kMostPixelsPerPacket = 128;

// TGA 2.0 footer, the file's last 26 bytes:
//   0  4 bytes  extension-area offset (0: none)
//   4  4 bytes  developer-area offset
//   8  18 bytes "TRUEVISION-XFILE." and a zero byte
// The extension area is 495 bytes; at 426 it names the program that wrote the file (41 bytes), and
// its last byte is the attributes type: 0 no alpha, 1 undefined (may be ignored), 2 undefined
// (keep), 3 alpha, 4 pre-multiplied alpha.
inline constexpr std::size_t kFooterSize = 26;
inline constexpr std::size_t kFooterSignatureOffset = 8;
inline constexpr char kFooterSignature[18] = "TRUEVISION-XFILE.";
inline constexpr std::size_t kExtensionSize = 495;
inline constexpr std::size_t kSoftwareIdOffset = 426;
inline constexpr std::size_t kAttributesTypeOffset = 494;
inline constexpr std::uint8_t kAttributesAlpha = 3;

struct Header {
    std::uint8_t id_length = 0;
    std::uint8_t colour_map_type = 0;
    std::uint8_t image_type = 0;
    std::uint16_t map_first_index = 0;
    std::uint16_t map_length = 0;
    std::uint8_t map_entry_bits = 0;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint8_t pixel_bits = 0;
    std::uint8_t descriptor = 0;
};

Header parse_header(const std::uint8_t (&bytes)[kHeaderSize]);

// What went wrong with an input, kept apart the way a user needs to act on it: a file that is
// no TGA at all, a TGA of a kind not read here, and a TGA that is broken.
enum class FailureKind { None, NotTga, Unsupported, Damaged, OutOfMemory };

struct Failure {
    FailureKind kind = FailureKind::None;
    std::string reason;       // short, for the user: "image type 32", "pixel data ends early"
    std::uint64_t bytes = 0;  // with OutOfMemory: how much was asked for

    explicit operator bool() const {
        return kind != FailureKind::None;
    }
};

Failure unsupported(std::string reason);
Failure damaged(std::string reason);

// How one stored pixel (or colour-map entry) is laid out.
enum class PixelKind {
    Bgr24,        // B, G, R
    Bgra32,       // B, G, R, A
    Word15,       // little-endian x RRRRR GGGGG BBBBB, top bit ignored
    Word16,       // little-endian A RRRRR GGGGG BBBBB, A set = opaque
    Grey8,        // grey
    GreyAlpha16,  // grey, alpha
    Index8,       // colour-map index
    Index16,      // colour-map index, little-endian
};

unsigned bytes_per_pixel(PixelKind kind);
bool carries_alpha(PixelKind kind);

// Where everything lies in the file and how to read it; every offset and size has been checked
// against the file's size, so that readers need only check what they read.
struct Layout {
    Header header;
    std::uint64_t file_size = 0;
    PixelKind pixel_kind = PixelKind::Bgr24;
    unsigned pixel_bytes = 3;
    bool rle = false;
    bool top_down = false;
    bool right_to_left = false;
    bool mapped = false;
    PixelKind map_entry_kind = PixelKind::Bgr24;
    unsigned map_entry_bytes = 0;
    std::uint64_t map_offset = 0;
    std::uint64_t pixel_offset = 0;
    std::uint64_t pixel_count = 0;
};

// Checks the header against the TGA kinds that are read and against the file's size.
Failure describe_layout(const Header& header, std::uint64_t file_size, Layout& layout);

}  // namespace varnel::tga
