// A game's own textures through the loop: an M32 file whose header a conversion in its folder
// would not write comes back byte for byte but for the paint when its header is kept.
#include <gtest/gtest.h>

#include <filesystem>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

constexpr int kFailed = 255;

// A 16 x 16 texture as a game ships it: its own header name and a block of its own.
std::string game_texture(const std::string& records) {
    return m32_header_start("textures/rock.m32") + std::string(712, '\x6B') + records;
}

std::string records_of(char seed) {
    std::string records;
    for (int i = 0; i < 256; ++i) {
        records += {static_cast<char>(i + seed), static_cast<char>(i * 3), static_cast<char>(i * 7),
                    static_cast<char>(i % 5 == 0 ? 0 : 255)};
    }
    return records;
}

TEST(KeepHeader, AGameTextureComesBackByteForByteButForThePaint) {
    for (const bool template_kept : {true, false}) {
        SCOPED_TRACE(template_kept ? "with the template" : "the template gone after --to-tga");
        const Scene scene;
        scene.put_template(16, 16);
        const std::string game = game_texture(records_of(1));
        scene.put("rock.m32", game);

        const ToolRun back = scene.run({"--to-tga", "rock.m32"});
        EXPECT_EQ(back.output,
                  text_lines("Processing rock.m32\nResolution is 16x16\nNeeds 1024 bytes in "
                             "memory\nrock.m32 has a header of its own: convert rock.tga with "
                             "--keep-header to put it back as it was.\n"));
        EXPECT_EQ(back.status, 0);
        if (!template_kept) {
            fs::remove(scene.root() / "tpl" / "16x16.m32");
        }
        // The paint: every pixel of the first row gets other colours.
        std::string tga = scene.read("rock.tga");
        const std::size_t top_row = 18 + 15 * 16 * 4;
        for (std::size_t i = 0; i < 16 * 4; i += 4) {
            tga[top_row + i] = '\x11';
        }
        scene.put("rock.tga", tga);
        std::string painted = records_of(1);
        for (std::size_t i = 0; i < 16 * 4; i += 4) {
            painted[i + 2] = '\x11';
        }

        const ToolRun forward = scene.run({"--keep-header", "rock.tga"});
        EXPECT_EQ(forward.output, progress_lines("rock.tga", 16, 16));
        EXPECT_EQ(forward.status, 0);
        EXPECT_TRUE(scene.read("rock.m32") == game_texture(painted));
    }
}

// Where no M32 file of the image's size is there to keep the header of, the conversion is the
// one without the option: its template, and this folder's header name.
TEST(KeepHeader, WithoutAnOutputOfTheSizeConvertsAsWithoutIt) {
    const struct {
        const char* what;
        std::string old_output;  // empty: none
    } cases[] = {{"no output", ""}, {"an output of another size", game_texture("0123")}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Scene scene;
        const std::string tpl = scene.put_template(4, 2);
        scene.put("wall.tga", classic_tga(4, 2));
        if (!c.old_output.empty()) {
            scene.put("wall.m32", c.old_output);
        }
        const ToolRun run = scene.run({"--keep-header", "wall.tga"});
        EXPECT_EQ(run.output, progress_lines("wall.tga", 4, 2));
        EXPECT_EQ(run.status, 0);
        EXPECT_TRUE(scene.read("wall.m32") == m32_header_start("stone/wall.m32") +
                                                  tpl.substr(256, 712) + classic_records(4, 2));
    }
}

// The TGA file beside an M32 file is the artist's: one whose ending differs only in case
// converts into the same M32 file, and is not made a second time beside it.
TEST(ToTga, ATgaFileOfTheNameInAnyCaseIsKept) {
    const Scene scene;
    const std::string block = scene.put_template(16, 16).substr(256, 712);
    scene.put("rock.m32", m32_header_start("stone/rock.m32") + block + records_of(3));
    scene.put("rock.TGA", "the artist's own");
    const Files before = scene.files();

    const ToolRun run = scene.run({"--to-tga", "rock.m32"});

#ifdef _WIN32
    const std::string existing = "rock.tga";  // the name that the system finds rock.TGA by
#else
    const std::string existing = "rock.TGA";
#endif
    EXPECT_EQ(run.output,
              text_lines("Processing rock.m32\nResolution is 16x16\nNeeds 1024 bytes in "
                         "memory\nWon't overwrite the TGA file " +
                         existing + " !\n"));
    EXPECT_EQ(run.status, kFailed);
    EXPECT_TRUE(scene.files() == before);
}

}  // namespace
}  // namespace varnel::testing
