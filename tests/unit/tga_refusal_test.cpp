#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "allocation_watch.hpp"
#include "decode.hpp"
#include "tga/tga_reader.hpp"
#include "tga_builder.hpp"

namespace varnel::unit {
namespace {

using testing::rle_encode;
using testing::tga_header;
using testing::TgaFields;

const char* kind_name(tga::FailureKind kind) {
    switch (kind) {
        case tga::FailureKind::None:
            return "none";
        case tga::FailureKind::NotTga:
            return "not a TGA";
        case tga::FailureKind::Unsupported:
            return "unsupported";
        case tga::FailureKind::Damaged:
            return "damaged";
        case tga::FailureKind::OutOfMemory:
            return "out of memory";
    }
    return "?";
}

struct Refusal {
    const char* what;
    std::string file;
    const char* reason;
};

void expect_refused(const Refusal& r, tga::FailureKind kind) {
    const Decoded d = decode(r.file);
    EXPECT_STREQ(kind_name(d.failure.kind), kind_name(kind)) << r.what;
    EXPECT_EQ(d.failure.reason, r.reason) << r.what;
}

// Plenty of bytes after the header, so that only the kind can be the reason for a refusal.
const std::string kData(4096, '\x01');

TEST(TgaRefusal, KindsThatAreNotReadAreUnsupported) {
    const Refusal cases[] = {
        {"image type 0", tga_header(image_fields(0, 2, 2, 24)) + kData, "image type 0"},
        {"image type 32", tga_header(image_fields(32, 2, 2, 8)) + kData, "image type 32"},
        {"image type 33", tga_header(image_fields(33, 2, 2, 8)) + kData, "image type 33"},
        {"image type 4", tga_header(image_fields(4, 2, 2, 24)) + kData, "image type 4"},
        {"image type 12", tga_header(image_fields(12, 2, 2, 24)) + kData, "image type 12"},
        {"image type 255", tga_header(image_fields(255, 2, 2, 24)) + kData, "image type 255"},
        {"8-bit true colour", tga_header(image_fields(2, 2, 2, 8)) + kData, "8-bit true colour"},
        {"8-bit true colour, RLE", tga_header(image_fields(10, 2, 2, 8)) + kData,
         "8-bit true colour"},
        {"24-bit grey", tga_header(image_fields(3, 2, 2, 24)) + kData, "24-bit grey"},
        {"32-bit grey, RLE", tga_header(image_fields(11, 2, 2, 32)) + kData, "32-bit grey"},
        {"32-bit colour index", tga_header(with_map(image_fields(1, 2, 2, 32), 0, 2, 24)) + kData,
         "32-bit colour index"},
        {"24-bit colour index, RLE",
         tga_header(with_map(image_fields(9, 2, 2, 24), 0, 2, 24)) + kData, "24-bit colour index"},
        {"colour-map type 2", tga_header(with_map(image_fields(1, 2, 2, 8), 0, 2, 24, 2)) + kData,
         "colour-map type 2"},
        {"colour-map type 2 in true colour",
         tga_header(with_map(image_fields(2, 2, 2, 24), 0, 2, 24, 2)) + kData, "colour-map type 2"},
        {"8-bit map entries", tga_header(with_map(image_fields(1, 2, 2, 8), 0, 2, 8)) + kData,
         "8-bit colour-map entries"},
        {"8-bit map entries in true colour",
         tga_header(with_map(image_fields(2, 2, 2, 24), 0, 2, 8)) + kData,
         "8-bit colour-map entries"},
        {"interleaving bit 6", tga_header(image_fields(2, 2, 2, 24, 0x40)) + kData,
         "interleaved rows"},
        {"interleaving bit 7", tga_header(image_fields(2, 2, 2, 24, 0x80)) + kData,
         "interleaved rows"},
        {"interleaving bits 6 and 7, RLE", tga_header(image_fields(10, 2, 2, 24, 0xC0)) + kData,
         "interleaved rows"},
    };
    for (const Refusal& r : cases) {
        expect_refused(r, tga::FailureKind::Unsupported);
    }
}

TEST(TgaRefusal, BrokenFilesAreDamaged) {
    const std::string map24 = std::string(9, '\x40');
    const Refusal cases[] = {
        {"colour map ends early",
         tga_header(with_map(image_fields(1, 2, 2, 8), 0, 4, 24)) + std::string(11, '\x40'),
         "colour map ends early"},
        {"colour map of a true-colour file ends early",
         tga_header(with_map(image_fields(2, 1, 1, 24), 0, 300, 32)) + std::string(1000, '\x40'),
         "colour map ends early"},
        {"pixel data ends early", tga_header(image_fields(2, 2, 2, 24)) + std::string(11, '\x40'),
         "pixel data ends early"},
        {"pixel data ends early after a map",
         tga_header(with_map(image_fields(1, 2, 2, 8), 0, 3, 24)) + map24 + file_bytes({0, 1, 2}),
         "pixel data ends early"},
        {"no pixel data", tga_header(image_fields(2, 1, 1, 32)), "pixel data ends early"},
        {"ID field ends early",
         [] {
             TgaFields f = image_fields(2, 1, 1, 24);
             f.id_length = 10;
             return tga_header(f) + "abc";
         }(),
         "image ID field ends early"},
        {"index past the colour map",
         tga_header(with_map(image_fields(1, 2, 2, 8), 0, 3, 24)) + map24 +
             file_bytes({0, 1, 2, 3}),
         "colour index outside the colour map"},
        {"index below the first entry",
         tga_header(with_map(image_fields(1, 2, 2, 8), 5, 3, 24)) + map24 +
             file_bytes({5, 6, 4, 7}),
         "colour index outside the colour map"},
        {"16-bit index past the colour map",
         tga_header(with_map(image_fields(1, 2, 1, 16), 254, 3, 24)) + map24 +
             file_bytes({0xFE, 0, 0x01, 0x01}),
         "colour index outside the colour map"},
        {"index past the colour map, RLE",
         tga_header(with_map(image_fields(9, 4, 1, 8), 0, 3, 24)) + map24 +
             file_bytes({0x82, 1, 0x00, 3}),
         "colour index outside the colour map"},
        {"mapped type without a map", tga_header(image_fields(1, 2, 2, 8)) + kData,
         "colour-mapped image without a colour map"},
        {"mapped RLE type without a map", tga_header(image_fields(9, 2, 2, 8)) + kData,
         "colour-mapped image without a colour map"},
        {"RLE ends within a literal packet",
         tga_header(image_fields(10, 3, 2, 24)) +
             file_bytes({0x05, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14}),
         "RLE data ends early"},
        {"RLE ends after a repeat packet's header",
         tga_header(image_fields(10, 4, 1, 24)) + file_bytes({0x01, 1, 2, 3, 4, 5, 6, 0x81}),
         "RLE data ends early"},
        {"RLE ends within a repeated pixel",
         tga_header(image_fields(10, 4, 1, 24)) + file_bytes({0x01, 1, 2, 3, 4, 5, 6, 0x81, 7}),
         "RLE data ends early"},
        {"RLE ends a row early",
         tga_header(image_fields(10, 4, 4, 24)) + file_bytes({0x8B, 1, 2, 3}),
         "RLE data ends early"},
        {"RLE packets cover half the image",
         tga_header(image_fields(10, 4, 4, 24, 0x20)) + file_bytes({0x87, 1, 2, 3, 0x80, 4, 5, 6}),
         "RLE data ends early"},
        {"no RLE data", tga_header(image_fields(10, 1, 1, 24)), "RLE data ends early"},
    };
    for (const Refusal& r : cases) {
        expect_refused(r, tga::FailureKind::Damaged);
    }
}

TEST(TgaRefusal, AnIndexOutsideTheMapInTheLastBlockIsFound) {
    const int width = 1000;
    const int height = 700;
    for (const int type : {1, 9}) {
        std::string indices(std::size_t(width) * height, '\x01');
        indices.back() = '\x02';
        const std::string file =
            tga_header(with_map(image_fields(type, width, height, 8), 0, 2, 24)) + "abcdef" +
            (type == 9 ? rle_encode(indices, 1) : indices);
        const Decoded d = decode(file);
        EXPECT_STREQ(kind_name(d.failure.kind), "damaged") << "type " << type;
        EXPECT_EQ(d.failure.reason, "colour index outside the colour map") << "type " << type;
    }
}

TEST(TgaRefusal, EveryTruncationIsRefusedWithinTheFile) {
    const std::string pixels12 = file_bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    TgaFields with_id = image_fields(2, 2, 2, 24);
    with_id.id_length = 3;
    const struct {
        const char* what;
        std::string file;
    } files[] = {
        {"24-bit with an ID field", tga_header(with_id) + "xyz" + pixels12},
        {"32-bit, top right", tga_header(image_fields(2, 3, 1, 32, 0x38)) + pixels12},
        {"16-bit words", tga_header(image_fields(2, 3, 2, 16, 1)) + pixels12},
        {"8-bit grey", tga_header(image_fields(3, 4, 3, 8)) + pixels12},
        {"16-bit indices into 15-bit entries",
         tga_header(with_map(image_fields(1, 2, 2, 16), 2, 3, 15)) +
             file_bytes({1, 2, 3, 4, 5, 6, 2, 0, 3, 0, 4, 0, 2, 0})},
        {"24-bit RLE", tga_header(image_fields(10, 3, 3, 24)) +
                           file_bytes({0x83, 1, 2, 3, 0x01, 4, 5, 6, 7, 8, 9, 0x82, 1, 1, 1})},
        {"8-bit indices, RLE, with an ID field",
         [] {
             TgaFields f = with_map(image_fields(9, 3, 2, 8), 0, 2, 24);
             f.id_length = 2;
             return tga_header(f) + "id" +
                    file_bytes({1, 2, 3, 4, 5, 6, 0x82, 1, 0x01, 0, 1, 0x80, 0});
         }()},
    };
    for (const auto& f : files) {
        ASSERT_FALSE(decode(f.file).failure) << f.what << ": the whole file must be readable";
        for (std::size_t n = 0; n < f.file.size(); ++n) {
            const Decoded d = decode(f.file.substr(0, n));
            const tga::FailureKind expected =
                n < 18 ? tga::FailureKind::NotTga : tga::FailureKind::Damaged;
            EXPECT_STREQ(kind_name(d.failure.kind), kind_name(expected))
                << f.what << ", first " << n << " bytes";
        }
    }
}

TEST(TgaRefusal, AHugeHeaderOnASmallFileIsRefusedBeforeAnythingLargeIsAllocated) {
    const struct {
        const char* what;
        std::string file;
        const char* reason;
    } cases[] = {
        {"24-bit", tga_header(image_fields(2, 65535, 65535, 24)) + kData, "pixel data ends early"},
        {"32-bit, top left", tga_header(image_fields(2, 65535, 65535, 32, 0x28)) + kData,
         "pixel data ends early"},
        {"8-bit grey", tga_header(image_fields(3, 65535, 65535, 8)) + kData,
         "pixel data ends early"},
        {"16-bit indices",
         tga_header(with_map(image_fields(1, 65535, 65535, 16), 0, 256, 32)) + kData,
         "pixel data ends early"},
        {"24-bit RLE", tga_header(image_fields(10, 65535, 65535, 24)) + kData,
         "RLE data ends early"},
        {"8-bit indices, RLE",
         tga_header(with_map(image_fields(9, 65535, 65535, 8), 0, 2, 24)) + kData,
         "RLE data ends early"},
    };
    for (const auto& c : cases) {
        tga::Reader reader;
        ASSERT_FALSE(reader.open(memory_input(c.file)));
        EXPECT_EQ(reader.width(), 65535);
        EXPECT_EQ(reader.height(), 65535);
        start_allocation_watch();
        const tga::Failure f = reader.prepare();
        const std::size_t largest = stop_allocation_watch();
        EXPECT_STREQ(kind_name(f.kind), "damaged") << c.what;
        EXPECT_EQ(f.reason, c.reason) << c.what;
        EXPECT_LT(largest, std::size_t{64} << 10) << c.what;
    }
}

}  // namespace
}  // namespace varnel::unit
