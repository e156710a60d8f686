#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tga/pixel_convert.hpp"

namespace varnel::tga {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The rules each record follows, one pixel at a time, written out plainly so that every faster
// path can be held against them.
void rule_record(PixelKind kind, const ColourMap& map, const std::uint8_t* in, bool keep_alpha,
                 std::uint8_t* out) {
    const auto widen = [](unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); };
    const auto word = [in] { return static_cast<unsigned>(in[0] | (in[1] << 8)); };
    switch (kind) {
        case PixelKind::Bgr24:
        case PixelKind::Bgra32:
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = kind == PixelKind::Bgra32 && keep_alpha ? in[3] : 255;
            return;
        case PixelKind::Word15:
        case PixelKind::Word16:
            out[0] = widen((word() >> 10) & 31);
            out[1] = widen((word() >> 5) & 31);
            out[2] = widen(word() & 31);
            out[3] = kind == PixelKind::Word16 && keep_alpha && (word() & 0x8000) == 0 ? 0 : 255;
            return;
        case PixelKind::Grey8:
        case PixelKind::GreyAlpha16:
            out[0] = out[1] = out[2] = in[0];
            out[3] = kind == PixelKind::GreyAlpha16 && keep_alpha ? in[1] : 255;
            return;
        case PixelKind::Index8:
        case PixelKind::Index16: {
            const std::size_t index = kind == PixelKind::Index8 ? in[0] : word();
            for (std::size_t c = 0; c < 4; ++c) {
                out[c] = map.records()[4 * index + c];
            }
            return;
        }
    }
}

Bytes noise(std::size_t n, std::uint32_t seed) {
    Bytes bytes(n);
    for (std::uint8_t& b : bytes) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

// A map of `length` entries from index `first` on, for indices of the kind.
ColourMap noise_map(PixelKind index_kind, std::size_t first, std::size_t length) {
    ColourMap map;
    map.build(index_kind, PixelKind::Bgra32, first, length, noise(length * 4, 7).data());
    return map;
}

struct KindCase {
    PixelKind kind;
    std::size_t pixel_bytes;
    const char* name;
};

const KindCase kKinds[] = {
    {PixelKind::Bgr24, 3, "24-bit"},       {PixelKind::Bgra32, 4, "32-bit"},
    {PixelKind::Word15, 2, "15-bit"},      {PixelKind::Word16, 2, "16-bit"},
    {PixelKind::Grey8, 1, "8-bit grey"},   {PixelKind::GreyAlpha16, 2, "grey and alpha"},
    {PixelKind::Index8, 1, "8-bit index"}, {PixelKind::Index16, 2, "16-bit index"},
};

// Every count from 0 to 70 at every alignment of input and output, counts on both sides of where
// the vector loops start and end, and one long row, so that the vector loops, their ends and the
// pixels after them all meet the rules, on every path this build and processor can take; the
// byte after the last record must stay as it was.
TEST(PixelConvert, EveryPathMakesTheRecordsTheRulesGive) {
    const ColourMap map = noise_map(PixelKind::Index16, 0, 65536);
    std::vector<std::size_t> counts;
    for (std::size_t n = 0; n <= 70; ++n) {
        counts.push_back(n);
    }
    for (const std::size_t n : {255u, 256u, 257u, 319u, 320u, 383u, 8192u + 13u}) {
        counts.push_back(n);
    }
    const std::vector<VectorPath> paths = usable_vector_paths();
    for (const VectorPath path : paths) {
        use_vector_path(path);
        for (const KindCase& k : kKinds) {
            for (const bool keep_alpha : {false, true}) {
                for (const std::size_t count : counts) {
                    const std::size_t shift = count % 4;
                    const Bytes in =
                        noise(shift + count * k.pixel_bytes, static_cast<std::uint32_t>(count));
                    Bytes out(shift + count * 4 + 1, 0xA5);
                    Bytes expected = out;
                    for (std::size_t i = 0; i < count; ++i) {
                        rule_record(k.kind, map, in.data() + shift + i * k.pixel_bytes, keep_alpha,
                                    expected.data() + shift + 4 * i);
                    }
                    convert_pixels(k.kind, map, in.data() + shift, count, keep_alpha,
                                   out.data() + shift);
                    ASSERT_EQ(out, expected)
                        << vector_path_name(path) << ", " << k.name << ", " << count
                        << " pixels, alpha " << (keep_alpha ? "kept" : "not kept");
                }
            }
        }
    }
    use_vector_path(paths.back());
}

// All 65536 words, with and without the attribute bit as alpha.
TEST(PixelConvert, EverySixteenBitWordWidensByTheRule) {
    Bytes words(65536 * 2);
    for (std::size_t w = 0; w < 65536; ++w) {
        words[2 * w] = static_cast<std::uint8_t>(w & 0xFF);
        words[2 * w + 1] = static_cast<std::uint8_t>(w >> 8);
    }
    const ColourMap unused;
    const std::vector<VectorPath> paths = usable_vector_paths();
    for (const VectorPath path : paths) {
        use_vector_path(path);
        for (const PixelKind kind : {PixelKind::Word15, PixelKind::Word16}) {
            for (const bool keep_alpha : {false, true}) {
                Bytes out(65536 * 4);
                Bytes expected(out.size());
                convert_pixels(kind, unused, words.data(), 65536, keep_alpha, out.data());
                for (std::size_t w = 0; w < 65536; ++w) {
                    rule_record(kind, unused, words.data() + 2 * w, keep_alpha,
                                expected.data() + 4 * w);
                }
                ASSERT_EQ(out, expected) << vector_path_name(path) << ", "
                                         << (kind == PixelKind::Word16 ? "16-bit" : "15-bit");
            }
        }
    }
    use_vector_path(paths.back());
}

// A colour map is one run of entries; an index just outside it, anywhere in a row, is caught.
TEST(PixelConvert, IndicesAreCheckedAgainstTheRunOfDefinedEntries) {
    struct RangeCase {
        PixelKind kind;
        std::size_t slots;
        std::size_t first;
        std::size_t end;
    };
    const RangeCase cases[] = {
        {PixelKind::Index8, 256, 0, 256},          {PixelKind::Index8, 256, 5, 200},
        {PixelKind::Index8, 256, 255, 256},        {PixelKind::Index8, 256, 0, 0},
        {PixelKind::Index16, 65536, 0, 65536},     {PixelKind::Index16, 65536, 300, 40000},
        {PixelKind::Index16, 65536, 33000, 65535},
    };
    for (const RangeCase& c : cases) {
        const ColourMap map = noise_map(c.kind, c.first, c.end - c.first);
        EXPECT_EQ(map.is_whole(), c.first == 0 && c.end == c.slots);
        const std::size_t bytes = c.kind == PixelKind::Index8 ? 1 : 2;
        const auto put = [&](Bytes& row, std::size_t i, std::size_t index) {
            row[bytes * i] = static_cast<std::uint8_t>(index & 0xFF);
            if (bytes == 2) {
                row[bytes * i + 1] = static_cast<std::uint8_t>(index >> 8);
            }
        };
        const std::size_t width = 100;
        Bytes row(width * bytes);
        for (std::size_t i = 0; i < width && c.first < c.end; ++i) {
            put(row, i, c.first + (i * 7919) % (c.end - c.first));
        }
        if (c.first < c.end) {
            put(row, 0, c.first);
            put(row, width - 1, c.end - 1);
            EXPECT_TRUE(map.holds(c.kind, row.data(), width));
        }
        EXPECT_TRUE(map.holds(c.kind, row.data(), 0)) << "no pixels";
        for (const std::size_t at : {std::size_t{0}, std::size_t{17}, width - 1}) {
            Bytes bad = row;
            if (c.first > 0) {
                put(bad, at, c.first - 1);
                EXPECT_FALSE(map.holds(c.kind, bad.data(), width))
                    << "index " << c.first - 1 << " at " << at;
            }
            if (c.end < c.slots) {
                put(bad, at, c.end);
                EXPECT_FALSE(map.holds(c.kind, bad.data(), width))
                    << "index " << c.end << " at " << at;
            }
        }
    }
}

// Alpha is visible when one alpha bit of one pixel is set, wherever the pixel lies; every other
// bit of the pixels may be set without making it so.
TEST(PixelConvert, OneVisibleAlphaAnywhereInARowIsFound) {
    struct AlphaCase {
        PixelKind kind;
        std::size_t pixel_bytes;
        std::size_t alpha_byte;
        std::uint8_t alpha_bits;
    };
    const AlphaCase cases[] = {
        {PixelKind::Bgra32, 4, 3, 0xFF},
        {PixelKind::Word16, 2, 1, 0x80},
        {PixelKind::GreyAlpha16, 2, 1, 0xFF},
    };
    const ColourMap unused;
    for (const AlphaCase& c : cases) {
        for (const std::size_t count : {1u, 7u, 64u, 1000u}) {
            Bytes row(count * c.pixel_bytes, 0xFF);
            for (std::size_t i = 0; i < count; ++i) {
                row[i * c.pixel_bytes + c.alpha_byte] &= static_cast<std::uint8_t>(~c.alpha_bits);
            }
            EXPECT_FALSE(any_visible_alpha(c.kind, unused, row.data(), count))
                << c.pixel_bytes << "-byte pixels, " << count;
            for (const std::size_t at : {std::size_t{0}, count / 2, count - 1}) {
                for (unsigned bit = 0; bit < 8; ++bit) {
                    const auto one = static_cast<std::uint8_t>(1u << bit);
                    if ((c.alpha_bits & one) == 0) {
                        continue;
                    }
                    Bytes visible = row;
                    visible[at * c.pixel_bytes + c.alpha_byte] |= one;
                    EXPECT_TRUE(any_visible_alpha(c.kind, unused, visible.data(), count))
                        << c.pixel_bytes << "-byte pixels, bit " << bit << " of pixel " << at;
                }
            }
        }
    }
}

}  // namespace
}  // namespace varnel::tga
