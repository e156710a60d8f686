// Every kind of TGA that paint programs write gives its true pixels; kinds that cannot be read
// are refused, and damaged files are refused, before any output exists.
#include <gtest/gtest.h>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

struct KindCase {
    std::string name;
    std::string tga;
    std::uint16_t width;
    std::uint16_t height;
    std::string records;  // R, G, B, A per pixel, top row first
};

void PrintTo(const KindCase& c, std::ostream* os) {
    *os << c.name;
}

TgaFields image(std::uint8_t type, std::uint8_t bits, std::uint16_t width, std::uint16_t height,
                std::uint8_t descriptor = 0) {
    TgaFields f;
    f.image_type = type;
    f.pixel_bits = bits;
    f.width = width;
    f.height = height;
    f.descriptor = descriptor;
    return f;
}

TgaFields with_map(TgaFields f, std::uint16_t first, std::uint16_t length,
                   std::uint8_t entry_bits) {
    f.colour_map_type = 1;
    f.map_first_index = first;
    f.map_length = length;
    f.map_entry_bits = entry_bits;
    return f;
}

std::string rgba(int r, int g, int b, int a = 255) {
    return bytes({r, g, b, a});
}

std::string repeat(const std::string& s, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += s;
    }
    return out;
}

// Four pixels stored B, G, R: a = (1,2,3), b = (4,5,6), c = (7,8,9), d = (10,11,12).
const std::string kA = bytes({1, 2, 3});
const std::string kB = bytes({4, 5, 6});
const std::string kC = bytes({7, 8, 9});
const std::string kD = bytes({10, 11, 12});
const std::string kRa = rgba(3, 2, 1);
const std::string kRb = rgba(6, 5, 4);
const std::string kRc = rgba(9, 8, 7);
const std::string kRd = rgba(12, 11, 10);

// 16-bit words A RRRRR GGGGG BBBBB: (31, 16, 1) widens to (255, 132, 8), (0, 31, 10) to
// (0, 255, 82); the first has its top bit clear, the second set.
const std::string kWords = le16(0x7E01) + le16(0x83EA);

std::string with_extension(const std::string& tga, std::uint8_t attributes_type) {
    return tga + extension_area_and_footer(tga.size(), attributes_type);
}

std::vector<KindCase> kind_cases() {
    const std::string rgba32 = bytes({1, 2, 3, 4, 5, 6, 7, 0});
    const std::string rgba32_out = rgba(3, 2, 1, 4) + rgba(7, 6, 5, 0);
    const std::string rgb32_out = rgba(3, 2, 1) + rgba(7, 6, 5);
    const std::string tc32 = tga_file(image(2, 32, 2, 1, 8), "", "", rgba32);
    const std::string tc32_no_alpha_bits = tga_file(image(2, 32, 2, 1, 0), "", "", rgba32);
    return {
        {"Mapped8BitIndex24BitEntries",
         tga_file(with_map(image(1, 8, 2, 2), 0, 3, 24), "",
                  bytes({10, 20, 30, 40, 50, 60, 70, 80, 90}), bytes({0, 1, 2, 0})),
         2, 2, rgba(90, 80, 70) + rgba(30, 20, 10) + rgba(30, 20, 10) + rgba(60, 50, 40)},
        {"Mapped16BitIndexFirstEntry300",
         tga_file(with_map(image(1, 16, 2, 1), 300, 2, 24), "", kA + kB, le16(301) + le16(300)), 2,
         1, kRb + kRa},
        {"Mapped32BitEntriesCarryAlpha",
         tga_file(with_map(image(1, 8, 2, 1), 0, 2, 32), "", bytes({1, 2, 3, 128, 4, 5, 6, 0}),
                  bytes({1, 0})),
         2, 1, rgba(6, 5, 4, 0) + rgba(3, 2, 1, 128)},
        {"Mapped15BitEntries",
         tga_file(with_map(image(1, 8, 2, 1), 0, 2, 15), "", le16(0x7C00) + le16(0x001F),
                  bytes({0, 1})),
         2, 1, rgba(255, 0, 0) + rgba(0, 0, 255)},
        {"Mapped16BitEntriesWithAlphaBit",
         tga_file(with_map(image(1, 8, 2, 1, 1), 0, 2, 16), "", le16(0x7C00) + le16(0x801F),
                  bytes({1, 0})),
         2, 1, rgba(0, 0, 255, 255) + rgba(255, 0, 0, 0)},
        {"MappedRle",
         tga_file(with_map(image(9, 8, 3, 1), 0, 2, 24), "", kA + kB, bytes({0x81, 1, 0x00, 0})), 3,
         1, kRb + kRb + kRa},
        {"Grey8", tga_file(image(3, 8, 2, 2), "", "", bytes({10, 20, 30, 40})), 2, 2,
         rgba(30, 30, 30) + rgba(40, 40, 40) + rgba(10, 10, 10) + rgba(20, 20, 20)},
        {"GreyWithAlpha16", tga_file(image(3, 16, 2, 1, 8), "", "", bytes({100, 50, 200, 255})), 2,
         1, rgba(100, 100, 100, 50) + rgba(200, 200, 200, 255)},
        {"GreyWithAlphaAllZeroIsOpaque",
         tga_file(image(3, 16, 2, 1, 8), "", "", bytes({100, 0, 200, 0})), 2, 1,
         rgba(100, 100, 100) + rgba(200, 200, 200)},
        {"GreyRle", tga_file(image(11, 8, 2, 2), "", "", bytes({0x83, 7})), 2, 2,
         repeat(rgba(7, 7, 7), 4)},
        {"TrueColour15", tga_file(image(2, 15, 2, 1), "", "", kWords), 2, 1,
         rgba(255, 132, 8) + rgba(0, 255, 82)},
        {"TrueColour16WithAlphaBit", tga_file(image(2, 16, 2, 1, 1), "", "", kWords), 2, 1,
         rgba(255, 132, 8, 0) + rgba(0, 255, 82, 255)},
        {"TrueColour16WithoutAlphaBits", tga_file(image(2, 16, 2, 1, 0), "", "", kWords), 2, 1,
         rgba(255, 132, 8) + rgba(0, 255, 82)},
        {"TrueColour16AlphaBitsAllClearIsOpaque",
         tga_file(image(2, 16, 2, 1, 1), "", "", le16(0x7E01) + le16(0x03EA)), 2, 1,
         rgba(255, 132, 8) + rgba(0, 255, 82)},
        {"TrueColour32", tc32, 2, 1, rgba32_out},
        {"TrueColour32AlphaWhateverTheDescriptorSays",
         tga_file(image(2, 32, 2, 1, 0), "", "", rgba32), 2, 1, rgba32_out},
        {"TrueColour32AlphaAllZeroIsOpaque",
         tga_file(image(2, 32, 2, 1, 8), "", "", bytes({1, 2, 3, 0, 5, 6, 7, 0})), 2, 1, rgb32_out},
        {"ExtensionAreaSaysNoAlpha", with_extension(tc32_no_alpha_bits, 0), 2, 1, rgb32_out},
        {"ExtensionAreaSaysUndefinedIgnore", with_extension(tc32_no_alpha_bits, 1), 2, 1,
         rgb32_out},
        {"ExtensionAreaSaysUndefinedKeep", with_extension(tc32_no_alpha_bits, 2), 2, 1, rgb32_out},
        {"ExtensionAreaSaysNoAlphaBesideAlphaBitsThatHoldAMask", with_extension(tc32, 0), 2, 1,
         rgba32_out},
        {"ExtensionAreaRunningIntoTheFooterIsNone",
         tc32_no_alpha_bits + std::string(469, '\0') +
             tga_footer(std::uint32_t(tc32_no_alpha_bits.size())),
         2, 1, rgba32_out},
        {"ExtensionAreaSaysAlpha", with_extension(tc32, 3), 2, 1, rgba32_out},
        {"ExtensionAreaSaysPremultipliedAlpha", with_extension(tc32, 4), 2, 1, rgba32_out},
        {"Rle32WithAlpha", tga_file(image(10, 32, 2, 1, 8), "", "", bytes({0x81, 1, 2, 3, 200})), 2,
         1, repeat(rgba(3, 2, 1, 200), 2)},
        {"RleRunAcrossRows", tga_file(image(10, 24, 3, 2), "", "", "\x83" + kA + "\x01" + kB + kC),
         3, 2, kRa + kRb + kRc + kRa + kRa + kRa},
        {"RleLiteralAcrossRows",
         tga_file(image(10, 24, 2, 2), "", "", "\x02" + kA + kB + kC + "\x80" + kD), 2, 2,
         kRc + kRd + kRa + kRb},
        {"RleRunPastTheLastPixel", tga_file(image(10, 24, 2, 1), "", "", "\x84" + kA), 2, 1,
         kRa + kRa},
        {"RleLiteralPastTheLastPixel",
         tga_file(image(10, 24, 2, 1), "", "", "\x03" + kA + kB + kC + kD), 2, 1, kRa + kRb},
        {"TopLeftOrigin", tga_file(image(2, 24, 2, 2, 0x20), "", "", kA + kB + kC + kD), 2, 2,
         kRa + kRb + kRc + kRd},
        {"BottomRightOrigin", tga_file(image(2, 24, 2, 2, 0x10), "", "", kA + kB + kC + kD), 2, 2,
         kRd + kRc + kRb + kRa},
        {"TopRightOrigin", tga_file(image(2, 24, 2, 2, 0x30), "", "", kA + kB + kC + kD), 2, 2,
         kRb + kRa + kRd + kRc},
        {"RleTopLeftOrigin",
         tga_file(image(10, 24, 2, 2, 0x20), "", "", "\x01" + kA + kB + "\x81" + kC), 2, 2,
         kRa + kRb + kRc + kRc},
        {"IdField",
         [] {
             TgaFields f = image(2, 24, 2, 1);
             f.id_length = 5;
             return tga_file(f, "hello", "", kA + kB);
         }(),
         2, 1, kRa + kRb},
        {"TrueColourCarryingAColourMap",
         tga_file(with_map(image(2, 24, 2, 1), 0, 2, 24), "", kC + kD, kA + kB), 2, 1, kRa + kRb},
        {"TrueColourCarryingA16BitColourMap",
         tga_file(with_map(image(2, 24, 2, 1), 0, 3, 16), "", std::string(6, '\x77'), kA + kB), 2,
         1, kRa + kRb},
        {"IdFieldColourMapAnd16BitIndex",
         [] {
             TgaFields f = with_map(image(1, 16, 2, 1), 5, 2, 24);
             f.id_length = 3;
             return tga_file(f, "abc", kC + kD, le16(6) + le16(5));
         }(),
         2, 1, kRd + kRc},
        {"GreyWithAlphaWhateverTheDescriptorSays",
         tga_file(image(3, 16, 2, 1, 0), "", "", bytes({100, 50, 200, 255})), 2, 1,
         rgba(100, 100, 100, 50) + rgba(200, 200, 200, 255)},
        {"Mapped16BitEntriesWithoutAlphaBits",
         tga_file(with_map(image(1, 8, 2, 1, 0), 0, 2, 16), "", le16(0x7C00) + le16(0x801F),
                  bytes({1, 0})),
         2, 1, rgba(0, 0, 255) + rgba(255, 0, 0)},
        {"ColourMapWithFirstEntryAboveZeroSkippedByItsLength",
         tga_file(with_map(image(2, 24, 2, 1), 5, 2, 24), "", kC + kD, kA + kB), 2, 1, kRa + kRb},
        {"RleIdField",
         [] {
             TgaFields f = image(10, 24, 2, 1);
             f.id_length = 2;
             return tga_file(f, "id", "", "\x81" + kC);
         }(),
         2, 1, kRc + kRc},
        {"RleIgnoredRestMayHoldAnyIndex",
         tga_file(with_map(image(9, 8, 2, 1), 0, 2, 24), "", kA + kB,
                  bytes({0x03, 1, 0, 200, 201})),
         2, 1, kRb + kRa},
        {"RleEmptyImage", tga_file(image(10, 24, 0, 4), "", "", ""), 0, 4, ""},
        {"TrailingBytesIgnored",
         tga_file(image(2, 24, 2, 1), "", "", kA + kB + std::string(9, 'z')), 2, 1, kRa + kRb},
        {"FooterWithoutExtensionArea", tc32 + tga_footer(0), 2, 1, rgba32_out},
        {"ExtensionAreaOutsideTheFile", tc32 + tga_footer(100000), 2, 1, rgba32_out},
        {"ExtensionAreaSaysNoAlphaBesideA16BitAlphaBit",
         with_extension(tga_file(image(2, 16, 2, 1, 1), "", "", kWords), 0), 2, 1,
         rgba(255, 132, 8, 0) + rgba(0, 255, 82, 255)},
        {"ExtensionAreaSaysAlphaEvenAllZero",
         with_extension(tga_file(image(2, 32, 2, 1, 8), "", "", bytes({1, 2, 3, 0, 5, 6, 7, 0})),
                        3),
         2, 1, rgba(3, 2, 1, 0) + rgba(7, 6, 5, 0)},
        {"AlphaBitsIgnoredFor24Bit", tga_file(image(2, 24, 2, 1, 8), "", "", kA + kB), 2, 1,
         kRa + kRb},
        {"Classic", classic_tga(3, 2, 21), 3, 2, classic_records(3, 2, 21)},
    };
}

class Kind : public ::testing::TestWithParam<KindCase> {};

TEST_P(Kind, ConvertsToItsTruePixels) {
    const KindCase& c = GetParam();
    const Scene scene;
    scene.put("art.tga", c.tga);
    const std::string tpl = scene.put_template(c.width, c.height);

    const ToolRun run = scene.run({"art.tga"});

    EXPECT_EQ(run.output, progress_lines("art.tga", c.width, c.height));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.errors, "");
    const std::string output = scene.read("art.m32");
    EXPECT_EQ(output.substr(0, 968), m32_header_start("stone/art.m32") + tpl.substr(256, 712));
    EXPECT_EQ(output.size() >= 968 ? output.substr(968) : std::string(), c.records);
}

INSTANTIATE_TEST_SUITE_P(Tga, Kind, ::testing::ValuesIn(kind_cases()), case_name<KindCase>);

struct RefusalCase {
    std::string name;
    std::string tga;
    std::uint16_t width;
    std::uint16_t height;
    std::string kind;  // how the message goes on after the input name
};

void PrintTo(const RefusalCase& c, std::ostream* os) {
    *os << c.name;
}

const std::string kUnsupported = "uses a TGA variant that is not supported";
const std::string kDamaged = "is damaged";

std::vector<RefusalCase> refusal_cases() {
    const std::string plenty(64, '\x11');
    const auto plain = [&](std::uint8_t type, std::uint8_t bits, std::uint8_t descriptor = 0) {
        return tga_file(image(type, bits, 2, 1, descriptor), "", "", plenty);
    };
    const auto mapped = [&](std::uint8_t type, std::uint8_t bits, std::uint8_t entry_bits) {
        return tga_file(with_map(image(type, bits, 2, 1), 0, 2, entry_bits), "",
                        std::string(8, '\x01'), std::string(16, '\0'));
    };
    const std::string mapped_pixels_24 = kA + kB + kC;
    return {
        {"ImageType0", plain(0, 24), 2, 1, kUnsupported},
        {"ImageType32", plain(32, 24), 2, 1, kUnsupported},
        {"ImageType33", plain(33, 24), 2, 1, kUnsupported},
        {"ImageType4", plain(4, 24), 2, 1, kUnsupported},
        {"ImageType255", plain(255, 24), 2, 1, kUnsupported},
        {"TrueColour8", plain(2, 8), 2, 1, kUnsupported},
        {"TrueColour20", plain(2, 20), 2, 1, kUnsupported},
        {"RleTrueColour8", plain(10, 8), 2, 1, kUnsupported},
        {"Grey24", plain(3, 24), 2, 1, kUnsupported},
        {"Grey32", plain(3, 32), 2, 1, kUnsupported},
        {"Index24", mapped(1, 24, 24), 2, 1, kUnsupported},
        {"Index32", mapped(1, 32, 24), 2, 1, kUnsupported},
        {"ColourMapType2",
         [&] {
             TgaFields f = image(2, 24, 2, 1);
             f.colour_map_type = 2;
             return tga_file(f, "", "", plenty);
         }(),
         2, 1, kUnsupported},
        {"MapEntries8Bits", mapped(1, 8, 8), 2, 1, kUnsupported},
        {"MapEntries12Bits", mapped(1, 8, 12), 2, 1, kUnsupported},
        {"InterleavedTwoWay", plain(2, 24, 0x40), 2, 1, kUnsupported},
        {"InterleavedFourWay", plain(2, 24, 0x80), 2, 1, kUnsupported},
        {"PixelDataEndsEarly32", tga_file(image(2, 32, 2, 1), "", "", std::string(7, '\x05')), 2, 1,
         kDamaged},
        {"PixelDataEndsEarlyGrey16", tga_file(image(3, 16, 2, 2), "", "", std::string(7, '\x05')),
         2, 2, kDamaged},
        {"PixelDataEndsEarlyIndex16",
         tga_file(with_map(image(1, 16, 2, 1), 0, 3, 24), "", mapped_pixels_24, bytes({0, 0, 1})),
         2, 1, kDamaged},
        {"IdFieldLongerThanTheFile",
         [] {
             TgaFields f = image(2, 24, 1, 1);
             f.id_length = 200;
             return tga_file(f, std::string(20, 'i'), "", "");
         }(),
         1, 1, kDamaged},
        {"RleStreamEndsEarly", tga_file(image(10, 24, 2, 2), "", "", "\x81" + kA), 2, 2, kDamaged},
        {"RleEndsInsideARunPixel", tga_file(image(10, 24, 2, 2), "", "", "\x83\x01\x02"), 2, 2,
         kDamaged},
        {"RleEndsInsideALiteral", tga_file(image(10, 24, 2, 2), "", "", "\x03" + kA + kB), 2, 2,
         kDamaged},
        {"RleWithNoData", tga_file(image(10, 24, 2, 2), "", "", ""), 2, 2, kDamaged},
        {"RleHugeHeaderOnSmallFile",
         [] {
             TgaFields f = image(10, 24, 65535, 65535);
             return tga_file(f, "", "", repeat("\xFF" + kA, 1000));
         }(),
         65535, 65535, kDamaged},
        {"ColourMapEndsEarly",
         tga_file(with_map(image(1, 8, 2, 1), 0, 256, 24), "", std::string(30, '\x09'), ""), 2, 1,
         kDamaged},
        {"ColourMapOfATrueColourFileEndsEarly",
         tga_file(with_map(image(2, 24, 2, 1), 0, 100, 24), "", std::string(20, '\x09'), ""), 2, 1,
         kDamaged},
        {"IndexPastTheMap",
         tga_file(with_map(image(1, 8, 2, 1), 0, 3, 24), "", mapped_pixels_24, bytes({0, 3})), 2, 1,
         kDamaged},
        {"IndexBelowTheFirstEntry",
         tga_file(with_map(image(1, 8, 2, 1), 2, 3, 24), "", mapped_pixels_24, bytes({2, 1})), 2, 1,
         kDamaged},
        {"Index16PastTheMap",
         tga_file(with_map(image(1, 16, 2, 1), 0, 3, 24), "", mapped_pixels_24,
                  le16(0) + le16(259)),
         2, 1, kDamaged},
        {"RleIndexPastTheMap",
         tga_file(with_map(image(9, 8, 2, 1), 0, 3, 24), "", mapped_pixels_24, bytes({0x81, 7})), 2,
         1, kDamaged},
        {"MappedWithoutAMap", tga_file(image(1, 8, 2, 1), "", "", bytes({0, 0, 0, 0})), 2, 1,
         kDamaged},
        {"RleMappedWithoutAMap", tga_file(image(9, 8, 2, 1), "", "", bytes({0x81, 0})), 2, 1,
         kDamaged},
        // Damage that only the last rows read show, long after the new file has been begun: RLE
        // rows stored bottom first are written from the bottom up, stored rows from the top down.
        {"RleEndsInTheTopRowOfALargeImage",
         tga_file(image(10, 24, 1024, 1024), "", "",
                  repeat("\x7F" + repeat(kA + kB, 64), 1024 * 1024 / 128 - 1) + "\x7F" + kA),
         1024, 1024, kDamaged},
        {"IndexPastTheMapInTheBottomRowOfALargeImage",
         tga_file(with_map(image(1, 8, 1024, 1024), 0, 3, 24), "", mapped_pixels_24,
                  "\x03" + std::string(1023, '\x01') + std::string(1024 * 1023, '\x02')),
         1024, 1024, kDamaged},
    };
}

class Refusal : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refusal, ComesAfterTheNeedsLineWithNoOutput) {
    const RefusalCase& c = GetParam();
    const Scene scene;
    scene.put("art.tga", c.tga);
    const std::string progress = progress_lines("art.tga", c.width, c.height);
    {
        // Without a template: the refusal must come before the template is looked for.
        SCOPED_TRACE("without a template");
        const Files before = scene.files();
        const ToolRun run = scene.run({"art.tga"});
        EXPECT_TRUE(is_refusal(run.output, progress, "art.tga", c.kind)) << run.output;
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(scene.files(), before);
    }
    {
        SCOPED_TRACE("with a template and an earlier output");
        scene.put_template(c.width, c.height);
        scene.put("art.m32", "an earlier output, which must survive");
        const Files before = scene.files();
        const ToolRun run = scene.run({"art.tga"});
        EXPECT_TRUE(is_refusal(run.output, progress, "art.tga", c.kind)) << run.output;
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(scene.files(), before);
    }
}

INSTANTIATE_TEST_SUITE_P(Tga, Refusal, ::testing::ValuesIn(refusal_cases()),
                         case_name<RefusalCase>);

}  // namespace
}  // namespace varnel::testing
