// The benchmark's inputs. Every pixel is a pure function of its position, so an input of any size
// is written, and its conversion checked, one row at a time: the benchmark process stays small,
// which matters because a forked child starts out with the parent's resident pages and those count
// towards the child's peak RSS.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

enum class Encoding {
    // Type 2, 24 bits, bottom row first: the classic input.
    Uncompressed24,
    // Type 10, 32 bits with alpha, bottom row first, run-length packets that mix repeats and
    // literals and run on from one row into the next.
    Rle32,
    // Type 10, 24 bits, bottom row first, short packets as paint programs write them: repeats and
    // literals of 1 to 40 pixels.
    Rle24Short,
    // The other uncompressed kinds, bottom row first: type 2 with 32 bits (alpha) and 16 bits
    // (attribute bit as alpha), type 3 with 8-bit grey, type 1 with 8-bit indices into a 24-bit
    // map of all 256 entries, and into a map of 200 entries, whose indices have to be checked
    // before anything is written.
    Uncompressed32,
    Word16,
    Grey8,
    Mapped8,
    Mapped8Partial,
};

struct Picture {
    Encoding encoding;
    std::uint32_t width;
    std::uint32_t height;
};

inline constexpr std::uint64_t kRecordsOffset = 968;
inline constexpr std::size_t kTemplateSize = 968;

std::uint64_t m32_size(const Picture& picture);

// The TGA file varnel makes back from the picture's M32 file: header, pixels, extension area and
// footer.
std::uint64_t tga_size(const Picture& picture);

// A stand-in resolution template: only its size and bytes 256 to 967 matter to the converter.
std::vector<std::uint8_t> template_bytes();

// Writes the picture as a TGA file. Returns false when the file cannot be written.
bool write_tga(const Picture& picture, const std::string& path);

// Compares a whole M32 file with the picture: leading word, header name, template block and every
// pixel record. Returns an empty string when it matches, otherwise where and how it differs.
std::string check_m32(const Picture& picture, const std::string& path,
                      const std::string& header_name);

// Compares the pixels of the TGA file made back from the picture's M32 file with the picture's
// records: B, G, R, A, rows stored bottom row first.
std::string check_tga(const Picture& picture, const std::string& path);

}  // namespace bench
