#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "decode.hpp"
#include "tga/tga_reader.hpp"
#include "tga_builder.hpp"

namespace varnel::unit {
namespace {

using testing::extension_area_and_footer;
using testing::rle_encode;
using testing::tga_footer;
using testing::tga_header;
using testing::TgaFields;

void expect_records(const std::string& file, const Bytes& expected, const std::string& what) {
    const Decoded d = decode(file);
    ASSERT_FALSE(d.failure) << what << ": " << d.failure.reason;
    EXPECT_EQ(records_text(d.records), records_text(expected)) << what;
}

// The example of the loader's contract: B, G, R rows stored bottom first come out as R, G, B, 255
// top row first.
TEST(TgaLoader, ConvertsTheTwoByTwoExample) {
    const std::string file =
        tga_header(image_fields(2, 2, 2, 24)) + file_bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    expect_records(file, bytes({9, 8, 7, 255, 12, 11, 10, 255, 3, 2, 1, 255, 6, 5, 4, 255}), "2x2");
}

TEST(TgaLoader, EmptyImagesYieldNoRecords) {
    const struct {
        int width;
        int height;
    } sizes[] = {{0, 0}, {0, 5}, {5, 0}};
    for (const auto& s : sizes) {
        const std::string what = std::to_string(s.width) + "x" + std::to_string(s.height);
        const std::string kinds[] = {
            tga_header(image_fields(2, s.width, s.height, 24)),
            tga_header(image_fields(10, s.width, s.height, 24)),
            tga_header(image_fields(3, s.width, s.height, 8)),
            tga_header(image_fields(2, s.width, s.height, 32, 8)),
            tga_header(with_map(image_fields(1, s.width, s.height, 8), 0, 1, 24)) +
                file_bytes({1, 2, 3}),
        };
        for (const std::string& file : kinds) {
            const Decoded d = decode(file);
            ASSERT_FALSE(d.failure) << what << ": " << d.failure.reason;
            EXPECT_EQ(d.width, s.width) << what;
            EXPECT_EQ(d.height, s.height) << what;
            EXPECT_TRUE(d.records.empty()) << what;
        }
    }
}

// Stored pixel i of a generated 24-bit image: B, G, R all different from their neighbours'.
std::string generated_pixel(std::size_t i) {
    return std::string{static_cast<char>(i % 251), static_cast<char>((i / 251) % 241),
                       static_cast<char>((i * 7 + 3) % 256)};
}

TEST(TgaLoader, SizeFieldsAreUnsignedUpTo65535) {
    const struct {
        int width;
        int height;
    } sizes[] = {{65535, 1}, {1, 65535}, {65535, 2}};
    for (const auto& s : sizes) {
        const std::string what = std::to_string(s.width) + "x" + std::to_string(s.height);
        std::string file = tga_header(image_fields(2, s.width, s.height, 24));
        const std::size_t count = std::size_t(s.width) * std::size_t(s.height);
        for (std::size_t i = 0; i < count; ++i) {
            file += generated_pixel(i);
        }
        ASSERT_EQ(static_cast<unsigned char>(file[12]), 0xFFu & unsigned(s.width));
        Bytes expected;
        for (std::size_t row = 0; row < std::size_t(s.height); ++row) {
            const std::size_t stored_row = std::size_t(s.height) - 1 - row;
            for (std::size_t x = 0; x < std::size_t(s.width); ++x) {
                const std::string p = generated_pixel(stored_row * std::size_t(s.width) + x);
                expected.insert(expected.end(),
                                {std::uint8_t(p[2]), std::uint8_t(p[1]), std::uint8_t(p[0]), 255});
            }
        }
        const Decoded d = decode(file);
        ASSERT_FALSE(d.failure) << what << ": " << d.failure.reason;
        EXPECT_EQ(d.width, s.width) << what;
        EXPECT_EQ(d.height, s.height) << what;
        EXPECT_EQ(first_difference(d.records, expected), "") << what;
    }
}

// 16-bit words A RRRRR GGGGG BBBBB, each channel widened as (v << 3) | (v >> 2):
//   FC10: A 1, R 31, G 0,  B 16 -> 255,   0, 132
//   0443: A 0, R 1,  G 2,  B 3  ->   8,  16,  24
//   83FF: A 1, R 0,  G 31, B 31 ->   0, 255, 255
//   5545: A 0, R 21, G 10, B 5  -> 173,  82,  41
const std::string kWords = file_bytes({0x10, 0xFC, 0x43, 0x04, 0xFF, 0x83, 0x45, 0x55});

TEST(TgaLoader, ConvertsEveryTrueColourAndGreyPixelKind) {
    const Bytes words_opaque =
        bytes({255, 0, 132, 255, 8, 16, 24, 255, 0, 255, 255, 255, 173, 82, 41, 255});
    const Bytes words_with_alpha =
        bytes({255, 0, 132, 255, 8, 16, 24, 0, 0, 255, 255, 255, 173, 82, 41, 0});
    const std::string bgra =
        file_bytes({10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255, 1, 2, 3, 7});
    const Bytes bgra_records = bytes({30, 20, 10, 0, 60, 50, 40, 128, 90, 80, 70, 255, 3, 2, 1, 7});
    const std::string grey_alpha = file_bytes({0, 0, 77, 128, 255, 255, 128, 1});
    const Bytes grey_alpha_records =
        bytes({0, 0, 0, 0, 77, 77, 77, 128, 255, 255, 255, 255, 128, 128, 128, 1});
    const struct {
        const char* what;
        int type;
        int bits;
        int descriptor;
        std::string pixels;
        Bytes expected;
    } cases[] = {
        {"24-bit", 2, 24, 0, file_bytes({10, 20, 30, 0, 0, 0, 255, 254, 253, 1, 2, 3}),
         bytes({30, 20, 10, 255, 0, 0, 0, 255, 253, 254, 255, 255, 3, 2, 1, 255})},
        {"32-bit, 8 alpha bits", 2, 32, 8, bgra, bgra_records},
        {"32-bit, 0 alpha bits", 2, 32, 0, bgra, bgra_records},
        {"15-bit", 2, 15, 0, kWords, words_opaque},
        {"15-bit, 1 alpha bit", 2, 15, 1, kWords, words_opaque},
        {"16-bit, 0 alpha bits", 2, 16, 0, kWords, words_opaque},
        {"16-bit, 1 alpha bit", 2, 16, 1, kWords, words_with_alpha},
        {"16-bit, 8 alpha bits", 2, 16, 8, kWords, words_with_alpha},
        {"8-bit grey", 3, 8, 0, file_bytes({0, 77, 255, 128}),
         bytes({0, 0, 0, 255, 77, 77, 77, 255, 255, 255, 255, 255, 128, 128, 128, 255})},
        {"16-bit grey, 8 alpha bits", 3, 16, 8, grey_alpha, grey_alpha_records},
        {"16-bit grey, 0 alpha bits", 3, 16, 0, grey_alpha, grey_alpha_records},
    };
    for (const auto& c : cases) {
        expect_records(tga_header(image_fields(c.type, 4, 1, c.bits, c.descriptor)) + c.pixels,
                       c.expected, c.what);
    }
}

TEST(TgaLoader, LooksIndicesUpInEveryKindOfColourMap) {
    const std::string map24 = file_bytes({10, 20, 30, 40, 50, 60, 70, 80, 90});
    const Bytes from_map24 =
        bytes({90, 80, 70, 255, 30, 20, 10, 255, 60, 50, 40, 255, 90, 80, 70, 255});
    const std::string words = kWords.substr(0, 4);  // FC10, 0443
    const struct {
        const char* what;
        TgaFields fields;
        std::string map;
        std::string indices;
        Bytes expected;
    } cases[] = {
        {"8-bit index, 24-bit entries", with_map(image_fields(1, 4, 1, 8), 0, 3, 24), map24,
         file_bytes({2, 0, 1, 2}), from_map24},
        {"16-bit index, 24-bit entries", with_map(image_fields(1, 4, 1, 16), 0, 3, 24), map24,
         file_bytes({2, 0, 0, 0, 1, 0, 2, 0}), from_map24},
        {"8-bit index, first entry 5", with_map(image_fields(1, 4, 1, 8), 5, 3, 24), map24,
         file_bytes({7, 5, 6, 7}), from_map24},
        {"16-bit index, first entry 300", with_map(image_fields(1, 4, 1, 16), 300, 3, 24), map24,
         file_bytes({0x2E, 1, 0x2C, 1, 0x2D, 1, 0x2E, 1}), from_map24},
        {"8-bit index, 32-bit entries", with_map(image_fields(1, 4, 1, 8), 0, 3, 32),
         file_bytes({10, 20, 30, 0, 40, 50, 60, 128, 70, 80, 90, 255}), file_bytes({2, 0, 1, 1}),
         bytes({90, 80, 70, 255, 30, 20, 10, 0, 60, 50, 40, 128, 60, 50, 40, 128})},
        {"8-bit index, 15-bit entries", with_map(image_fields(1, 4, 1, 8, 1), 0, 2, 15), words,
         file_bytes({1, 0, 0, 1}),
         bytes({8, 16, 24, 255, 255, 0, 132, 255, 255, 0, 132, 255, 8, 16, 24, 255})},
        {"8-bit index, 16-bit entries, 0 alpha bits",
         with_map(image_fields(1, 4, 1, 8, 0), 0, 2, 16), words, file_bytes({1, 0, 0, 1}),
         bytes({8, 16, 24, 255, 255, 0, 132, 255, 255, 0, 132, 255, 8, 16, 24, 255})},
        {"8-bit index, 16-bit entries, 1 alpha bit",
         with_map(image_fields(1, 4, 1, 8, 1), 0, 2, 16), words, file_bytes({1, 0, 0, 1}),
         bytes({8, 16, 24, 0, 255, 0, 132, 255, 255, 0, 132, 255, 8, 16, 24, 0})},
    };
    for (const auto& c : cases) {
        expect_records(tga_header(c.fields) + c.map + c.indices, c.expected, c.what);
    }
}

// Stored pixel i of the small origin images: B, G, R = 10i + 1, 10i + 2, 10i + 3.
Bytes records_of(std::initializer_list<int> stored) {
    Bytes out;
    for (const int i : stored) {
        out.insert(out.end(), {std::uint8_t(10 * i + 3), std::uint8_t(10 * i + 2),
                               std::uint8_t(10 * i + 1), 255});
    }
    return out;
}

TEST(TgaLoader, HonoursEveryOrigin) {
    std::string pixels;
    for (int i = 0; i < 6; ++i) {
        pixels += file_bytes({10 * i + 1, 10 * i + 2, 10 * i + 3});
    }
    // Stored rows of 3: s0 s1 s2, then s3 s4 s5.
    const struct {
        const char* what;
        int descriptor;
        Bytes expected;
    } cases[] = {
        {"bottom left", 0x00, records_of({3, 4, 5, 0, 1, 2})},
        {"bottom right", 0x10, records_of({5, 4, 3, 2, 1, 0})},
        {"top left", 0x20, records_of({0, 1, 2, 3, 4, 5})},
        {"top right", 0x30, records_of({2, 1, 0, 5, 4, 3})},
    };
    for (const auto& c : cases) {
        expect_records(tga_header(image_fields(2, 3, 2, 24, c.descriptor)) + pixels, c.expected,
                       std::string(c.what) + ", uncompressed");
        expect_records(tga_header(image_fields(10, 3, 2, 24, c.descriptor)) + rle_encode(pixels, 3),
                       c.expected, std::string(c.what) + ", RLE");
    }
}

TEST(TgaLoader, SkipsTheImageIdField) {
    const std::string pixels = file_bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const Bytes expected = bytes({9, 8, 7, 255, 12, 11, 10, 255, 3, 2, 1, 255, 6, 5, 4, 255});
    for (const int length : {1, 3, 17, 255}) {
        TgaFields f = image_fields(2, 2, 2, 24);
        f.id_length = static_cast<std::uint8_t>(length);
        expect_records(tga_header(f) + std::string(std::size_t(length), '\xAB') + pixels, expected,
                       "ID field of " + std::to_string(length));
        f.image_type = 10;
        expect_records(
            tga_header(f) + std::string(std::size_t(length), '\x83') + rle_encode(pixels, 3),
            expected, "RLE, ID field of " + std::to_string(length));
    }
    TgaFields mapped = with_map(image_fields(1, 2, 1, 8), 0, 2, 24);
    mapped.id_length = 4;
    expect_records(tga_header(mapped) + "\x01\x02\x03\x04" + file_bytes({1, 2, 3, 4, 5, 6, 1, 0}),
                   bytes({6, 5, 4, 255, 3, 2, 1, 255}), "ID field before a colour map");
}

TEST(TgaLoader, SkipsAColourMapThatPixelsDoNotUse) {
    const std::string pixels = file_bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const Bytes expected = bytes({9, 8, 7, 255, 12, 11, 10, 255, 3, 2, 1, 255, 6, 5, 4, 255});
    const struct {
        int entry_bits;
        int entry_bytes;
        int length;
    } maps[] = {{15, 2, 3}, {16, 2, 1}, {24, 3, 3}, {32, 4, 5}, {24, 3, 0}};
    for (const auto& m : maps) {
        const std::string what =
            std::to_string(m.length) + " entries of " + std::to_string(m.entry_bits) + " bits";
        TgaFields f = with_map(image_fields(2, 2, 2, 24), 0, m.length, m.entry_bits);
        const std::string map(std::size_t(m.length * m.entry_bytes), '\x5A');
        expect_records(tga_header(f) + map + pixels, expected, "true colour, " + what);
        f.id_length = 2;
        expect_records(tga_header(f) + "id" + map + pixels, expected, "ID field and " + what);
        f.image_type = 10;
        expect_records(tga_header(f) + "id" + map + rle_encode(pixels, 3), expected,
                       "RLE, " + what);
    }
    TgaFields grey = with_map(image_fields(3, 2, 1, 8), 0, 2, 24);
    expect_records(tga_header(grey) + std::string(6, '\x5A') + file_bytes({7, 9}),
                   bytes({7, 7, 7, 255, 9, 9, 9, 255}), "grey with a colour map");
}

TEST(TgaLoader, DecodesRunLengthPackets) {
    const struct {
        const char* what;
        TgaFields fields;
        std::string data;
        Bytes expected;
    } cases[] = {
        {"repeat packet", image_fields(10, 3, 1, 24), file_bytes({0x82, 1, 2, 3}),
         bytes({3, 2, 1, 255, 3, 2, 1, 255, 3, 2, 1, 255})},
        {"literal packet", image_fields(10, 3, 1, 24),
         file_bytes({0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9}),
         bytes({3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255})},
        {"literal then repeat", image_fields(10, 4, 1, 24),
         file_bytes({0x01, 1, 2, 3, 4, 5, 6, 0x81, 7, 8, 9}),
         bytes({3, 2, 1, 255, 6, 5, 4, 255, 9, 8, 7, 255, 9, 8, 7, 255})},
        {"single-pixel packets", image_fields(10, 2, 1, 24),
         file_bytes({0x80, 1, 2, 3, 0x00, 4, 5, 6}), bytes({3, 2, 1, 255, 6, 5, 4, 255})},
        {"repeat packet across rows", image_fields(10, 2, 2, 24),
         file_bytes({0x82, 1, 2, 3, 0x00, 4, 5, 6}),
         bytes({3, 2, 1, 255, 6, 5, 4, 255, 3, 2, 1, 255, 3, 2, 1, 255})},
        {"literal packet across rows", image_fields(10, 2, 2, 24),
         file_bytes({0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00, 10, 11, 12}),
         bytes({9, 8, 7, 255, 12, 11, 10, 255, 3, 2, 1, 255, 6, 5, 4, 255})},
        {"repeat packet past the last pixel", image_fields(10, 2, 2, 24),
         file_bytes({0x01, 1, 2, 3, 4, 5, 6, 0x85, 7, 8, 9}),
         bytes({9, 8, 7, 255, 9, 8, 7, 255, 3, 2, 1, 255, 6, 5, 4, 255})},
        {"literal packet past the last pixel", image_fields(10, 1, 2, 24),
         file_bytes({0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
         bytes({6, 5, 4, 255, 3, 2, 1, 255})},
        {"one packet of 128 pixels", image_fields(10, 64, 2, 24), file_bytes({0xFF, 1, 2, 3}),
         [] {
             Bytes b;
             for (int i = 0; i < 128; ++i) {
                 b.insert(b.end(), {3, 2, 1, 255});
             }
             return b;
         }()},
        {"grey", image_fields(11, 3, 1, 8), file_bytes({0x81, 50, 0x00, 60}),
         bytes({50, 50, 50, 255, 50, 50, 50, 255, 60, 60, 60, 255})},
        {"grey and alpha", image_fields(11, 2, 1, 16, 8), file_bytes({0x81, 50, 9}),
         bytes({50, 50, 50, 9, 50, 50, 50, 9})},
        {"32-bit", image_fields(10, 3, 1, 32, 8),
         file_bytes({0x81, 1, 2, 3, 128, 0x00, 4, 5, 6, 0}),
         bytes({3, 2, 1, 128, 3, 2, 1, 128, 6, 5, 4, 0})},
        {"16-bit with alpha bit", image_fields(10, 3, 1, 16, 1),
         file_bytes({0x81, 0x10, 0xFC, 0x00, 0x43, 0x04}),
         bytes({255, 0, 132, 255, 255, 0, 132, 255, 8, 16, 24, 0})},
        {"colour indices", with_map(image_fields(9, 3, 1, 8), 0, 2, 24),
         file_bytes({10, 20, 30, 40, 50, 60, 0x81, 1, 0x00, 0}),
         bytes({60, 50, 40, 255, 60, 50, 40, 255, 30, 20, 10, 255})},
    };
    for (const auto& c : cases) {
        expect_records(tga_header(c.fields) + c.data, c.expected, c.what);
    }
}

// Packets of every length from 1 to 128, repeated and literal in no order, one stream across
// rows and across the reader's windows, in 24- and 32-bit pixels and every origin: each vector
// path decodes them as the rules give.
TEST(TgaLoader, RlePacketsOfEveryLengthDecodeAlikeOnEveryPath) {
    const int width = 700;
    const int height = 400;
    const struct {
        int bits;
        int descriptor;
    } kinds[] = {{24, 0x00}, {24, 0x20}, {24, 0x10}, {32, 0x08}, {32, 0x28}, {32, 0x00}};
    const std::vector<tga::VectorPath> paths = tga::usable_vector_paths();
    for (const auto& k : kinds) {
        const std::size_t pixel_bytes = std::size_t(k.bits) / 8;
        const std::size_t pixels = std::size_t(width) * height;
        std::string data;
        std::vector<Bytes> stored;  // every pixel of the stream, as stored
        std::uint32_t seed = 12345;
        const auto next = [&seed] {
            seed = seed * 1664525u + 1013904223u;
            return seed >> 8;
        };
        while (stored.size() < pixels) {
            const std::size_t n = 1 + (next() % 7 == 0 ? next() % 128 : next() % 40);
            const bool repeat = next() % 2 == 0;
            data += static_cast<char>((repeat ? 0x80 : 0x00) | (n - 1));
            Bytes pixel(pixel_bytes);
            for (std::size_t i = 0; i < n; ++i) {
                if (i == 0 || !repeat) {
                    for (auto& b : pixel) {
                        b = static_cast<std::uint8_t>(next());
                    }
                    data.append(pixel.begin(), pixel.end());
                }
                stored.push_back(pixel);
            }
        }
        Bytes expected;
        for (int row = 0; row < height; ++row) {
            const int stored_row = k.descriptor & 0x20 ? row : height - 1 - row;
            for (int x = 0; x < width; ++x) {
                const int stored_x = k.descriptor & 0x10 ? width - 1 - x : x;
                const Bytes& p = stored[std::size_t(stored_row * width + stored_x)];
                expected.insert(expected.end(),
                                {p[2], p[1], p[0], pixel_bytes == 4 ? p[3] : std::uint8_t{255}});
            }
        }
        const std::string file =
            tga_header(image_fields(10, width, height, k.bits, k.descriptor)) + data;
        for (const tga::VectorPath path : paths) {
            tga::use_vector_path(path);
            const Decoded d = decode(file);
            ASSERT_FALSE(d.failure) << d.failure.reason;
            EXPECT_EQ(first_difference(d.records, expected), "")
                << tga::vector_path_name(path) << ", " << k.bits << "-bit, descriptor "
                << k.descriptor;
        }
        tga::use_vector_path(paths.back());
    }
}

// A 2 x 1 image of each alpha-carrying kind whose alpha is 0 and then not 0.
struct AlphaImage {
    const char* what;
    std::string file;
    Bytes kept;    // the records with the stored alpha
    Bytes opaque;  // the same records with A = 255
};

std::vector<AlphaImage> alpha_images() {
    return {
        {"32-bit",
         tga_header(image_fields(2, 2, 1, 32, 8)) + file_bytes({1, 2, 3, 0, 4, 5, 6, 200}),
         bytes({3, 2, 1, 0, 6, 5, 4, 200}), bytes({3, 2, 1, 255, 6, 5, 4, 255})},
        {"16-bit grey and alpha",
         tga_header(image_fields(3, 2, 1, 16, 8)) + file_bytes({7, 0, 9, 200}),
         bytes({7, 7, 7, 0, 9, 9, 9, 200}), bytes({7, 7, 7, 255, 9, 9, 9, 255})},
        {"16-bit words, 1 alpha bit",
         tga_header(image_fields(2, 2, 1, 16, 1)) + file_bytes({0x43, 0x04, 0x10, 0xFC}),
         bytes({8, 16, 24, 0, 255, 0, 132, 255}), bytes({8, 16, 24, 255, 255, 0, 132, 255})},
        {"32-bit colour-map entries",
         tga_header(with_map(image_fields(1, 2, 1, 8, 8), 0, 2, 32)) +
             file_bytes({1, 2, 3, 0, 4, 5, 6, 200, 0, 1}),
         bytes({3, 2, 1, 0, 6, 5, 4, 200}), bytes({3, 2, 1, 255, 6, 5, 4, 255})},
    };
}

// The same image with no alpha bits in its descriptor (16-bit words then carry no alpha at all).
std::string without_alpha_bits(std::string file) {
    file[17] = static_cast<char>(file[17] & 0xF0);
    return file;
}

// Attributes types 0, 1 and 2 say the alpha bytes are no alpha; the descriptor's alpha bits say
// they are, and win: Paint Shop Pro writes type 0 beside 8 alpha bits that hold a mask.
TEST(TgaLoader, ExtensionAreaSaysNoAlphaOnlyWhereTheDescriptorGivesNoAlphaBits) {
    for (const AlphaImage& image : alpha_images()) {
        expect_records(image.file, image.kept, std::string(image.what) + ", no extension area");
        for (int type = 0; type <= 4; ++type) {
            const auto area = [&](const std::string& file) {
                return file + extension_area_and_footer(file.size(), std::uint8_t(type));
            };
            const std::string what =
                std::string(image.what) + ", attributes type " + std::to_string(type);
            expect_records(area(image.file), image.kept, what + ", alpha bits");
            if (image.file[16] != 16) {
                expect_records(area(without_alpha_bits(image.file)),
                               type >= 3 ? image.kept : image.opaque, what + ", no alpha bits");
            }
        }
    }
}

TEST(TgaLoader, IgnoresAnExtensionAreaThatIsNotInsideTheFileBeforeItsFooter) {
    for (const AlphaImage& image : alpha_images()) {
        if (image.file[16] == 16) {
            continue;
        }
        const std::string file = without_alpha_bits(image.file);
        // Each would say "no alpha" if it were read.
        const std::string no_alpha_area = extension_area_and_footer(file.size(), 0);
        const std::string area_only = no_alpha_area.substr(0, 495);
        const std::uint32_t size = std::uint32_t(file.size());
        const struct {
            const char* what;
            std::string tail;
        } cases[] = {
            {"offset 0", area_only + tga_footer(0)},
            {"offset past the end", area_only + tga_footer(size + 10000)},
            {"offset 0xFFFFFFFF", area_only + tga_footer(0xFFFFFFFFu)},
            {"area cut by the end of the file", area_only + tga_footer(size + 400)},
            {"area running into the footer", area_only.substr(0, 469) + tga_footer(size)},
            {"footer without signature",
             no_alpha_area.substr(0, no_alpha_area.size() - 2) + "X" + std::string(1, '\0')},
        };
        for (const auto& c : cases) {
            expect_records(file + c.tail, image.kept, std::string(image.what) + ", " + c.what);
        }
    }
}

TEST(TgaLoader, AlphaThatIsZeroEverywhereMeansOpaque) {
    const struct {
        const char* what;
        std::string file;
        Bytes expected;
    } cases[] = {
        {"32-bit", tga_header(image_fields(2, 2, 1, 32, 8)) + file_bytes({1, 2, 3, 0, 4, 5, 6, 0}),
         bytes({3, 2, 1, 255, 6, 5, 4, 255})},
        {"32-bit, 0 alpha bits",
         tga_header(image_fields(2, 2, 1, 32, 0)) + file_bytes({1, 2, 3, 0, 4, 5, 6, 0}),
         bytes({3, 2, 1, 255, 6, 5, 4, 255})},
        {"32-bit, attributes type 3: alpha that is alpha, even 0 everywhere",
         [] {
             const std::string f =
                 tga_header(image_fields(2, 2, 1, 32, 8)) + file_bytes({1, 2, 3, 0, 4, 5, 6, 0});
             return f + extension_area_and_footer(f.size(), 3);
         }(),
         bytes({3, 2, 1, 0, 6, 5, 4, 0})},
        {"32-bit RLE",
         tga_header(image_fields(10, 3, 1, 32, 8)) +
             file_bytes({0x81, 1, 2, 3, 0, 0x00, 4, 5, 6, 0}),
         bytes({3, 2, 1, 255, 3, 2, 1, 255, 6, 5, 4, 255})},
        {"16-bit words, 1 alpha bit",
         tga_header(image_fields(2, 2, 1, 16, 1)) + file_bytes({0x43, 0x04, 0x45, 0x55}),
         bytes({8, 16, 24, 255, 173, 82, 41, 255})},
        {"16-bit grey and alpha",
         tga_header(image_fields(3, 2, 1, 16, 8)) + file_bytes({7, 0, 9, 0}),
         bytes({7, 7, 7, 255, 9, 9, 9, 255})},
        {"32-bit colour-map entries, the used ones all 0",
         tga_header(with_map(image_fields(1, 2, 1, 8, 8), 0, 3, 32)) +
             file_bytes({1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 99, 0, 1}),
         bytes({3, 2, 1, 255, 6, 5, 4, 255})},
        {"16-bit colour-map entries, 1 alpha bit",
         tga_header(with_map(image_fields(1, 2, 1, 8, 1), 0, 2, 16)) +
             file_bytes({0x43, 0x04, 0x45, 0x55, 1, 0}),
         bytes({173, 82, 41, 255, 8, 16, 24, 255})},
        {"one visible alpha in the last pixel keeps them all",
         tga_header(image_fields(2, 3, 1, 32, 8)) +
             file_bytes({1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 1}),
         bytes({3, 2, 1, 0, 6, 5, 4, 0, 9, 8, 7, 1})},
    };
    for (const auto& c : cases) {
        expect_records(c.file, c.expected, c.what);
    }
}

// A generated image of width 1000 and height 700: taller than one block of rows, so that reads
// cross block boundaries. Its pixels hold runs (for RLE) that cross rows and blocks.
struct LargeImage {
    const char* what;
    int type;
    int bits;
    int descriptor;
    bool mapped;
    bool zero_alpha_but_one;  // alpha 0 everywhere except in the last stored pixel
};

constexpr int kLargeWidth = 1000;
constexpr int kLargeHeight = 700;

// A stored pixel as the record it converts to.
struct Pixel {
    std::uint8_t r, g, b, a;
};

// Runs of 300 equal values alternate with stretches of distinct ones.
std::size_t large_value(std::size_t i) {
    return (i / 300) % 2 == 1 ? (i / 300) * 37 : i;
}

Pixel large_pixel(std::size_t i, const LargeImage& image) {
    const std::size_t v = large_value(i);
    Pixel p{std::uint8_t(v * 3 + 1), std::uint8_t(v / 7 + 5), std::uint8_t(v * 11), 255};
    if (image.mapped) {
        const std::uint8_t index = std::uint8_t(v % 200);
        p = {std::uint8_t(index * 5), std::uint8_t(255 - index), std::uint8_t(index ^ 0x55), 255};
    }
    if (image.bits == 32) {
        const std::size_t last = std::size_t(kLargeWidth) * kLargeHeight - 1;
        p.a = image.zero_alpha_but_one ? (i == last ? 1 : 0) : std::uint8_t(v * 13 + 2);
    }
    return p;
}

std::string large_file(const LargeImage& image) {
    TgaFields f = image_fields(image.type, kLargeWidth, kLargeHeight, image.bits, image.descriptor);
    std::string map;
    if (image.mapped) {
        f.colour_map_type = 1;
        f.map_length = 200;
        f.map_entry_bits = 24;
        for (int index = 0; index < 200; ++index) {
            map += file_bytes({index ^ 0x55, 255 - index, index * 5});
        }
    }
    std::string pixels;
    const std::size_t count = std::size_t(kLargeWidth) * kLargeHeight;
    for (std::size_t i = 0; i < count; ++i) {
        const Pixel p = large_pixel(i, image);
        if (image.mapped) {
            pixels += char(std::uint8_t(large_value(i) % 200));
        } else if (image.bits == 24) {
            pixels += std::string{char(p.b), char(p.g), char(p.r)};
        } else {
            pixels += std::string{char(p.b), char(p.g), char(p.r), char(p.a)};
        }
    }
    const unsigned pixel_bytes = image.mapped ? 1u : unsigned(image.bits / 8);
    return tga_header(f) + map + (image.type >= 9 ? rle_encode(pixels, pixel_bytes) : pixels);
}

Bytes large_records(const LargeImage& image) {
    const bool top_down = (image.descriptor & 0x20) != 0;
    const bool right_to_left = (image.descriptor & 0x10) != 0;
    Bytes out;
    for (std::size_t row = 0; row < std::size_t(kLargeHeight); ++row) {
        const std::size_t stored_row = top_down ? row : kLargeHeight - 1 - row;
        for (std::size_t x = 0; x < std::size_t(kLargeWidth); ++x) {
            const std::size_t stored_x = right_to_left ? kLargeWidth - 1 - x : x;
            const Pixel p = large_pixel(stored_row * kLargeWidth + stored_x, image);
            out.insert(out.end(), {p.r, p.g, p.b, p.a});
        }
    }
    return out;
}

TEST(TgaLoader, ReadsTallImagesInBlocksOfRowsAtAnyBoundary) {
    const LargeImage images[] = {
        {"24-bit, bottom left", 2, 24, 0x00, false, false},
        {"32-bit, top left", 2, 32, 0x28, false, false},
        {"32-bit, alpha only in the last stored pixel", 2, 32, 0x08, false, true},
        {"24-bit RLE, bottom left", 10, 24, 0x00, false, false},
        {"32-bit RLE, top right", 10, 32, 0x38, false, false},
        {"8-bit indices, RLE, bottom right", 9, 8, 0x10, true, false},
        {"8-bit indices, top left", 1, 8, 0x20, true, false},
    };
    for (const LargeImage& image : images) {
        const std::string file = large_file(image);
        const Bytes expected = large_records(image);
        const Decoded whole = decode(file);
        ASSERT_FALSE(whole.failure) << image.what << ": " << whole.failure.reason;
        ASSERT_GT(whole.rows_per_call, 1u) << image.what;
        ASSERT_LT(whole.rows_per_call, std::uint32_t(kLargeHeight)) << image.what;
        EXPECT_EQ(first_difference(whole.records, expected), "") << image.what << ", by blocks";
        for (const std::uint32_t rows : {1u, 3u, 7u, whole.rows_per_call - 1}) {
            const Decoded d = decode(file, rows);
            ASSERT_FALSE(d.failure) << image.what << ": " << d.failure.reason;
            EXPECT_EQ(first_difference(d.records, expected), "")
                << image.what << ", " << rows << " rows at a time";
        }
    }
}

// A reader that has read one image reads the next as a new reader does, whatever the kinds and
// sizes and however the one before ended.
TEST(TgaLoader, OneReaderReadsImageAfterImageAsANewOneDoes) {
    const LargeImage large = {"32-bit RLE, top right", 10, 32, 0x38, false, false};
    const std::string files[] = {
        large_file(large),
        tga_header(image_fields(2, 2, 2, 24)) + file_bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
        tga_header(with_map(image_fields(9, 3, 1, 8), 0, 2, 32)) +
            file_bytes({1, 2, 3, 0, 4, 5, 6, 0, 0x81, 1, 0x00, 0}),
        tga_header(image_fields(10, 4, 2, 24)) + file_bytes({0x83, 1, 2, 3}),
        tga_header(image_fields(2, 0, 7, 32, 8)),
        tga_header(with_map(image_fields(1, 2, 1, 16), 1, 3, 16, 1)) +
            file_bytes({0x10, 0xFC, 0x43, 0x04, 0xFF, 0x83, 3, 0, 1, 0}),
        tga_header(image_fields(3, 3, 2, 16, 8)) + file_bytes({7, 0, 9, 0, 1, 0, 2, 0, 3, 0, 4, 0}),
    };
    tga::Reader reader;
    for (const std::uint32_t rows_per_call : {0u, 1u}) {
        for (const std::string& file : files) {
            const Decoded fresh = decode(file, rows_per_call);
            const Decoded again = decode_with(reader, file, rows_per_call);
            EXPECT_EQ(again.failure.kind, fresh.failure.kind) << fresh.failure.reason;
            EXPECT_EQ(again.failure.reason, fresh.failure.reason);
            EXPECT_EQ(first_difference(again.records, fresh.records), "")
                << again.width << "x" << again.height;
        }
    }
}

// Stored rows can be had in any order; RLE rows only in the order the stream holds them (bottom
// row first here). Rows out of that order, or outside the image, are refused with nothing made.
TEST(TgaLoader, RowsOutsideTheImageOrTheStreamsOrderAreRefused) {
    const std::string pixels = file_bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    for (const bool rle : {false, true}) {
        const std::string file = tga_header(image_fields(rle ? 10 : 2, 2, 2, 24)) +
                                 (rle ? rle_encode(pixels, 3) : pixels);
        const Bytes whole = decode(file).records;
        const tga::Input input = memory_input(file);
        tga::Reader reader;
        ASSERT_FALSE(reader.open(input) || reader.prepare());
        std::uint8_t room[16];
        const auto refused = [&](std::uint32_t first, std::uint32_t count) {
            std::fill(std::begin(room), std::end(room), 0xEE);
            return reader.read_rows(first, count, room).kind == tga::FailureKind::Unsupported &&
                   std::all_of(std::begin(room), std::end(room), [](int b) { return b == 0xEE; });
        };
        const auto row_is = [&](std::uint32_t row) {
            return !reader.read_rows(row, 1, room) &&
                   std::equal(room, room + 8, whole.data() + 8 * std::size_t{row});
        };
        EXPECT_TRUE(refused(1, 2) && refused(3, 0)) << "rows outside the image";
        if (rle) {
            EXPECT_TRUE(refused(0, 1)) << "the top row before the bottom one";
            EXPECT_TRUE(row_is(1));
            EXPECT_TRUE(refused(1, 1)) << "a row twice";
            EXPECT_TRUE(row_is(0));
        } else {
            EXPECT_TRUE(row_is(0) && row_is(1) && row_is(0));
        }
    }
}

}  // namespace
}  // namespace varnel::unit
