#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tga/tga_reader.hpp"
#include "tga/tga_writer.hpp"

namespace varnel::tga {
namespace {

// A TGA file as the way back writes it: the shape's head, pixels whose every byte is 0 (alpha
// included), and the shape's tail, read without the pixels ever being held.
struct WrittenFile {
    platform::OutputFile::Shape shape;
    std::uint64_t pixels;

    static std::size_t read(const void* context, std::uint64_t offset, std::uint8_t* out,
                            std::size_t n) {
        const auto& file = *static_cast<const WrittenFile*>(context);
        const std::uint64_t tail_at = file.shape.head.size() + file.pixels;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t at = offset + i;
            out[i] = at < file.shape.head.size() ? file.shape.head[static_cast<std::size_t>(at)]
                     : at < tail_at              ? 0
                                    : file.shape.tail[static_cast<std::size_t>(at - tail_at)];
        }
        return n;
    }
};

// Alpha that is 0 in every pixel reads back as it is, whatever the size: the extension area that
// says so is where the footer's 32-bit offset reaches, after the pixels or, past 4 GiB, before
// them.
TEST(TgaWriter, AlphaThatIsZeroEverywhereReadsBackAtEverySize) {
    const struct {
        std::uint16_t width;
        std::uint16_t height;
        std::size_t head;
    } sizes[] = {{3, 2, 18}, {65535, 16383, 18}, {65535, 16385, 18 + 496}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(std::to_string(s.width) + "x" + std::to_string(s.height));
        const WrittenFile file{file_shape(s.width, s.height),
                               std::uint64_t{4} * s.width * s.height};
        EXPECT_EQ(file.shape.head.size(), s.head);
        EXPECT_EQ(file.shape.tail.size(), s.head == 18 ? 495u + 26 : 26u);
        const Input input{file.shape.head.size() + file.pixels + file.shape.tail.size(),
                          WrittenFile::read, &file};
        Reader reader;
        ASSERT_FALSE(reader.open(input));
        ASSERT_FALSE(reader.prepare());
        std::vector<std::uint8_t> records(std::size_t{4} * s.width);
        ASSERT_FALSE(reader.read_rows(0, 1, records.data()));
        EXPECT_TRUE(
            std::all_of(records.begin(), records.end(), [](std::uint8_t b) { return b == 0; }));
    }
}

}  // namespace
}  // namespace varnel::tga
