// Damaged and hostile inputs through the built tool: each is refused with its message and status,
// leaves no output, and is refused without working on what the header claims.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

std::string counting_bytes(std::size_t n, unsigned seed) {
    std::string bytes;
    for (std::size_t i = 0; i < n; ++i) {
        bytes += static_cast<char>((seed + i * 29) & 0xFF);
    }
    return bytes;
}

struct ValidFile {
    const char* kind;
    std::string bytes;
    std::size_t id_end;   // where the image ID field ends
    std::size_t map_end;  // where the colour map ends
    const char* pixel_reason;
};

std::vector<ValidFile> valid_files() {
    std::vector<ValidFile> files;
    {
        TgaFields f;
        f.width = 3;
        f.height = 2;
        files.push_back({"classic 24-bit", classic_tga(3, 2), 18, 18, "pixel data ends early"});
    }
    {
        TgaFields f;
        f.width = 3;
        f.height = 2;
        f.pixel_bits = 32;
        f.descriptor = 0x28;
        files.push_back({"32-bit with alpha", tga_header(f) + counting_bytes(24, 3), 18, 18,
                         "pixel data ends early"});
    }
    {
        TgaFields f;
        f.image_type = 10;
        f.width = 3;
        f.height = 2;
        // A run that crosses from the first row into the second, then three literals.
        const std::string packets =
            std::string("\x82\x01\x02\x03", 4) + "\x02" + counting_bytes(9, 5);
        files.push_back({"RLE 24-bit", tga_header(f) + packets, 18, 18, "RLE data ends early"});
    }
    {
        TgaFields f;
        f.id_length = 4;
        f.colour_map_type = 1;
        f.image_type = 1;
        f.map_length = 3;
        f.map_entry_bits = 24;
        f.width = 3;
        f.height = 2;
        f.pixel_bits = 8;
        const std::string indices("\x00\x01\x02\x02\x01\x00", 6);
        files.push_back({"colour-mapped with an ID field",
                         tga_header(f) + "name" + counting_bytes(9, 11) + indices, 22, 31,
                         "pixel data ends early"});
    }
    {
        TgaFields f;
        f.image_type = 3;
        f.width = 3;
        f.height = 2;
        f.pixel_bits = 8;
        files.push_back(
            {"8-bit grey", tga_header(f) + counting_bytes(6, 17), 18, 18, "pixel data ends early"});
    }
    return files;
}

TEST(DamagedInput, EveryPrefixOfAValidFileIsRefusedAndTheWholeFileConverts) {
    for (const ValidFile& file : valid_files()) {
        const Scene scene = Scene::with_templates_here();
        const std::string tpl = scene.put_template(3, 2);
        for (std::size_t length = 0; length <= file.bytes.size(); ++length) {
            SCOPED_TRACE(std::string(file.kind) + ", first " + std::to_string(length) + " bytes");
            const std::string prefix = file.bytes.substr(0, length);
            scene.put("pic.tga", prefix);

            const ToolRun run = scene.run({"pic.tga"});
            EXPECT_EQ(run.errors, "");
            if (length == file.bytes.size()) {
                EXPECT_EQ(run.status, 0);
                EXPECT_EQ(run.output, progress_lines("pic.tga", 3, 2));
                EXPECT_EQ(scene.read("pic.m32").size(), 968u + 4 * 3 * 2);
                continue;
            }
            const std::string reason = length < file.id_end    ? "image ID field ends early"
                                       : length < file.map_end ? "colour map ends early"
                                                               : file.pixel_reason;
            const std::string expected =
                length < 18 ? line("Processing pic.tga\npic.tga is not a TGA file !\n")
                            : progress_lines("pic.tga", 3, 2) +
                                  line("pic.tga is damaged (" + reason + ") !\n");
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.output, expected);
            EXPECT_EQ(
                scene.files(),
                (Files{{"stone/3x2.m32", tpl}, {"stone/path.ini", ""}, {"stone/pic.tga", prefix}}));
        }
    }
}

struct HostileCase {
    const char* name;
    std::string bytes;
    unsigned width;
    unsigned height;
    const char* reason;
};

std::vector<HostileCase> hostile_cases() {
    std::vector<HostileCase> cases;
    TgaFields huge;
    huge.width = 65535;
    huge.height = 65535;
    cases.push_back({"65535 x 65535 true colour", tga_header(huge) + counting_bytes(300, 1), 65535,
                     65535, "pixel data ends early"});
    TgaFields huge_rle = huge;
    huge_rle.image_type = 10;
    std::string runs;
    for (int i = 0; i < 100; ++i) {
        runs += std::string("\xff\x10\x20\x30", 4);
    }
    cases.push_back(
        {"65535 x 65535 RLE", tga_header(huge_rle) + runs, 65535, 65535, "RLE data ends early"});
    TgaFields huge_grey = huge;
    huge_grey.image_type = 11;
    huge_grey.pixel_bits = 8;
    cases.push_back({"65535 x 65535 RLE grey", tga_header(huge_grey) + std::string(200, '\xff'),
                     65535, 65535, "RLE data ends early"});
    TgaFields huge_mapped = huge;
    huge_mapped.colour_map_type = 1;
    huge_mapped.image_type = 1;
    huge_mapped.map_length = 65535;
    huge_mapped.map_entry_bits = 32;
    huge_mapped.pixel_bits = 16;
    cases.push_back({"65535 x 65535 indices into 65535 entries",
                     tga_header(huge_mapped) + counting_bytes(65535 * 4 + 100, 7), 65535, 65535,
                     "pixel data ends early"});
    TgaFields big_map;
    big_map.colour_map_type = 1;
    big_map.image_type = 1;
    big_map.map_length = 65535;
    big_map.map_entry_bits = 32;
    big_map.width = 2;
    big_map.height = 2;
    big_map.pixel_bits = 8;
    cases.push_back({"colour map of 65535 entries in 100 bytes",
                     tga_header(big_map) + counting_bytes(100, 2), 2, 2, "colour map ends early"});
    TgaFields true_colour_map = big_map;
    true_colour_map.image_type = 2;
    true_colour_map.pixel_bits = 24;
    cases.push_back({"true colour behind a colour map of 65535 entries",
                     tga_header(true_colour_map) + counting_bytes(500, 2), 2, 2,
                     "colour map ends early"});
    TgaFields rle;
    rle.image_type = 10;
    rle.width = 4;
    rle.height = 2;
    cases.push_back(
        {"RLE literal packet cut short",
         tga_header(rle) + "\x03" + counting_bytes(12, 1) + "\x03" + counting_bytes(7, 2), 4, 2,
         "RLE data ends early"});
    cases.push_back({"RLE run packet cut inside its pixel",
                     tga_header(rle) + "\x83" + counting_bytes(3, 1) + "\x83\x01\x02", 4, 2,
                     "RLE data ends early"});
    cases.push_back({"RLE stream ending on a packet header",
                     tga_header(rle) + "\x86" + counting_bytes(3, 1) + "\x00", 4, 2,
                     "RLE data ends early"});
    return cases;
}

TEST(HostileInput, ImpossibleClaimsAreRefusedWithoutWorkingOnThem) {
    for (const HostileCase& c : hostile_cases()) {
        SCOPED_TRACE(c.name);
        const Scene scene = Scene::with_templates_here();
        scene.put("pic.tga", c.bytes);

        const ToolRun run = scene.run({"pic.tga"});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.output, progress_lines("pic.tga", c.width, c.height) +
                                  line("pic.tga is damaged (" + std::string(c.reason) + ") !\n"));
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(scene.files(), (Files{{"stone/path.ini", ""}, {"stone/pic.tga", c.bytes}}));
    }
#ifndef _WIN32
    // The largest of the runs above: far below what any of the claimed images would take.
    rusage usage{};
    ASSERT_EQ(::getrusage(RUSAGE_CHILDREN, &usage), 0);
    EXPECT_LT(usage.ru_maxrss, 256L * 1024) << "kilobytes";
#endif
}

}  // namespace
}  // namespace varnel::testing
