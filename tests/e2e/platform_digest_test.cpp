// One image of each kind converted by the built varnel, the output's bytes reduced to a digest
// that is checked in here: a processor, byte order, word size or C++ library that converts any
// byte differently fails, naming the kind. The digests were taken from the x86-64 GCC build.
#include <gtest/gtest.h>

#include <cstdint>
#include <ios>
#include <string>
#include <vector>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

// Wider than the widest vector step (64 colour indices), with a part step left over.
constexpr std::uint16_t kWidth = 70;
constexpr std::uint16_t kHeight = 5;

struct DigestCase {
    std::string name;
    std::uint8_t image_type;
    std::uint8_t pixel_bits;
    std::uint8_t descriptor;  // alpha bits and origin
    std::uint8_t map_entry_bits;
    std::uint64_t digest;
};

void PrintTo(const DigestCase& c, std::ostream* os) {
    *os << c.name;
}

std::uint64_t fnv1a(const std::string& bytes) {
    std::uint64_t hash = 0xCBF29CE484222325u;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001B3u;
    }
    return hash;
}

// `count` little-endian values of `size` bytes from first to first + range - 1, from a fixed
// sequence; about half repeat the value before, so that RLE makes both runs and literals.
std::string values(std::size_t count, unsigned size, std::uint32_t first, std::uint64_t range) {
    std::uint64_t state = 42;
    const auto next = [&state] {
        state = state * 6364136223846793005u + 1442695040888963407u;
        return state >> 32;
    };
    std::string out;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (i == 0 || next() % 2 == 0) {
            value = first + next() % range;
        }
        for (unsigned b = 0; b < size; ++b) {
            out += static_cast<char>((value >> (8 * b)) & 0xFF);
        }
    }
    return out;
}

std::string tga_of(const DigestCase& c) {
    const bool mapped = c.image_type == 1 || c.image_type == 9;
    const unsigned pixel_bytes = (c.pixel_bits + 7u) / 8u;
    TgaFields f;
    f.image_type = c.image_type;
    f.pixel_bits = c.pixel_bits;
    f.descriptor = c.descriptor;
    f.width = kWidth;
    f.height = kHeight;
    std::string map;
    if (mapped) {
        const unsigned entry_bytes = (c.map_entry_bits + 7u) / 8u;
        f.colour_map_type = 1;
        f.map_first_index = 2;
        f.map_length = c.pixel_bits == 8 ? 200 : 300;
        f.map_entry_bits = c.map_entry_bits;
        map = values(f.map_length, entry_bytes, 0, std::uint64_t{1} << (8 * entry_bytes));
    }
    const std::string pixels =
        mapped ? values(std::size_t{kWidth} * kHeight, pixel_bytes, 2, f.map_length)
               : values(std::size_t{kWidth} * kHeight, pixel_bytes, 0,
                        std::uint64_t{1} << (8 * pixel_bytes));
    return tga_file(f, "", map, c.image_type >= 9 ? rle_encode(pixels, pixel_bytes) : pixels);
}

class Digest : public ::testing::TestWithParam<DigestCase> {};

TEST_P(Digest, OfTheOutputIsTheCheckedInOne) {
    const DigestCase& c = GetParam();
    const Scene scene;
    scene.put("art.tga", tga_of(c));
    scene.put_template(kWidth, kHeight);

    const ToolRun run = scene.run({"art.tga"});

    ASSERT_EQ(run.status, 0) << run.output;
    const std::uint64_t digest = fnv1a(scene.read("art.m32"));
    EXPECT_EQ(digest, c.digest) << "the output's digest is 0x" << std::hex << digest;
}

// The records of a TGA file as varnel writes it back from an M32 file, read the plain way: type 2,
// 32 bits, 8 alpha bits, rows stored bottom row first, pixels B, G, R, A; empty for anything else.
std::string records_of(const std::string& tga) {
    const auto byte = [&](std::size_t i) {
        return std::size_t{static_cast<unsigned char>(tga[i])};
    };
    const std::size_t width = byte(12) | byte(13) << 8;
    const std::size_t height = byte(14) | byte(15) << 8;
    if (tga.size() < 18 + 4 * width * height || byte(0) != 0 || byte(1) != 0 || byte(2) != 2 ||
        byte(16) != 32 || byte(17) != 8) {
        return {};
    }
    std::string records;
    for (std::size_t row = height; row-- > 0;) {
        for (std::size_t x = 0; x < width; ++x) {
            const std::size_t at = 18 + 4 * (row * width + x);
            records += {tga[at + 2], tga[at + 1], tga[at], tga[at + 3]};
        }
    }
    return records;
}

// The M32 file goes back to a TGA file that holds its records and converts to the same M32 file.
TEST_P(Digest, GoesBackToATgaThatConvertsToTheSameFile) {
    const Scene scene;
    scene.put("art.tga", tga_of(GetParam()));
    scene.put_template(kWidth, kHeight);
    ASSERT_EQ(scene.run({"art.tga"}).status, 0);
    const std::string m32 = scene.read("art.m32");
    std::filesystem::remove(scene.dir() / "art.tga");

    const ToolRun back = scene.run({"--to-tga", "art.m32"});

    EXPECT_EQ(back.status, 0);
    EXPECT_EQ(back.output, text_lines("Processing art.m32\nResolution is 70x5\nNeeds 1400 bytes "
                                      "in memory\n"));
    EXPECT_TRUE(records_of(scene.read("art.tga")) == m32.substr(968));
    std::filesystem::remove(scene.dir() / "art.m32");
    ASSERT_EQ(scene.run({"art.tga"}).status, 0);
    EXPECT_TRUE(scene.read("art.m32") == m32);
}

// Image types: 1 colour-mapped, 2 true colour, 3 grey, 9 to 11 the same with RLE. Descriptor: 1 or
// 8 alpha bits, 0x10 right to left, 0x20 top row first.
const DigestCase kCases[] = {
    {"TrueColour15", 2, 15, 0x00, 0, 0x55CC512DA33F6137u},
    {"TrueColour16", 2, 16, 0x01, 0, 0x0FB9910A75337486u},
    {"TrueColour24", 2, 24, 0x00, 0, 0xBE10B3E7435A85A1u},
    {"TrueColour32", 2, 32, 0x08, 0, 0xB0FDEC0B2689ACDAu},
    {"Grey8", 3, 8, 0x00, 0, 0x372B8EA79C78F6CFu},
    {"GreyWithAlpha16", 3, 16, 0x08, 0, 0xF021B496450CD350u},
    {"Index8Map15", 1, 8, 0x00, 15, 0x1B4DBB0C1DFC3E02u},
    {"Index8Map16", 1, 8, 0x01, 16, 0xF4B97FE9055E274Eu},
    {"Index8Map24", 1, 8, 0x00, 24, 0x56C0E32A42CB9888u},
    {"Index8Map32", 1, 8, 0x08, 32, 0x6BE9124A724EA268u},
    {"Index16Map15", 1, 16, 0x00, 15, 0x28208504CB1140B0u},
    {"Index16Map16", 1, 16, 0x01, 16, 0xD8BAAB5A6643D990u},
    {"Index16Map24", 1, 16, 0x00, 24, 0xA4C0C97C3AE6C48Eu},
    {"Index16Map32", 1, 16, 0x08, 32, 0x4BC577E271AE6E10u},
    {"Rle15", 10, 15, 0x00, 0, 0x55CC512DA33F6137u},
    {"Rle16", 10, 16, 0x01, 0, 0x0FB9910A75337486u},
    {"Rle24", 10, 24, 0x00, 0, 0xBE10B3E7435A85A1u},
    {"Rle32", 10, 32, 0x08, 0, 0xB0FDEC0B2689ACDAu},
    {"RleGrey8", 11, 8, 0x00, 0, 0x372B8EA79C78F6CFu},
    {"RleGreyWithAlpha16", 11, 16, 0x08, 0, 0xF021B496450CD350u},
    {"RleIndex8Map24", 9, 8, 0x00, 24, 0x56C0E32A42CB9888u},
    {"RleIndex16Map32", 9, 16, 0x08, 32, 0x4BC577E271AE6E10u},
    {"TopLeft24", 2, 24, 0x20, 0, 0xD3DB4C8B5D94C779u},
    {"BottomRight24", 2, 24, 0x10, 0, 0xEFAF06D98CBBB4ADu},
    {"TopRight32", 2, 32, 0x38, 0, 0x95B7E8C9E465FBF2u},
    {"TopLeftGrey8", 3, 8, 0x20, 0, 0x94C84D432493734Fu},
    {"RleTopRight24", 10, 24, 0x30, 0, 0x8BCB060481E4D2B5u},
    {"RleBottomRightIndex8Map16", 9, 8, 0x11, 16, 0xDFC2F0C56231CBC2u},
};

INSTANTIATE_TEST_SUITE_P(Platform, Digest, ::testing::ValuesIn(kCases), case_name<DigestCase>);

}  // namespace
}  // namespace varnel::testing
