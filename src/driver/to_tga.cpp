#include "driver/to_tga.hpp"

#include <memory>
#include <new>
#include <vector>

#include "m32/naming.hpp"
#include "m32/record.hpp"
#include "tga/tga_writer.hpp"

namespace varnel::driver {

namespace {

using Step = std::optional<Report>;

constexpr std::uint32_t kLargestSide = 65535;

struct Size {
    std::uint16_t width;
    std::uint16_t height;
};

std::string size_text(const Size& size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// The M32 file holds its records, not its size. The resolution templates the user has say it: a
// template of a size with as many records, and best one whose header block is the file's own.
Step find_size(Conversion& c, std::uint64_t records, const m32::TemplateBlock& own, Size& size) {
    std::vector<Size> fitting;
    std::vector<Size> same_block;
    for (std::uint64_t width = 1; width <= kLargestSide && width <= records; ++width) {
        if (records % width != 0 || records / width > kLargestSide) {
            continue;
        }
        const Size candidate{static_cast<std::uint16_t>(width),
                             static_cast<std::uint16_t>(records / width)};
        const std::string path = c.settings().path(
            m32::template_path(c.settings().prefix, candidate.width, candidate.height));
        platform::FileState seen;
        m32::TemplateBlock block;
        platform::FileKey key;
        if (!c.look_at_when_written(path, seen)) {
            continue;
        }
        const m32::TemplateRead read = c.workspace.templates.read(path, &seen, block, key);
        if (read == m32::TemplateRead::Missing) {
            continue;
        }
        fitting.push_back(candidate);
        if (read == m32::TemplateRead::Ok && block == own) {
            same_block.push_back(candidate);
        }
    }
    const std::vector<Size>& told = same_block.empty() ? fitting : same_block;
    if (told.size() == 1) {
        size = told.front();
        return std::nullopt;
    }
    if (told.empty()) {
        return Report{Message::NoTemplateFits, std::to_string(records), c.job.input};
    }
    std::string sizes;
    for (const Size& s : told) {
        sizes += (sizes.empty() ? "" : ", ") + size_text(s);
    }
    return Report{Message::TemplatesDisagree, c.job.input, std::to_string(records), sizes};
}

// The records, read a block at a time in the order the file keeps them, go into the TGA file's
// rows, which are the other way up.
Step write_pixels(Conversion& c, const Size& size) {
    platform::OutputFile& output = c.workspace.output;
    const std::size_t row_bytes = std::size_t{size.width} * m32::kRecordBytes;
    std::unique_ptr<std::uint8_t[]>& rows = c.workspace.rows;
    if (!rows) {
        rows.reset(new (std::nothrow) std::uint8_t[platform::kBlockBytes]);
        if (!rows) {
            return Report{Message::OutOfMemory, std::to_string(platform::kBlockBytes)};
        }
    }
    for (platform::Room room; (room = output.room()).rows > 0;) {
        const std::uint32_t top = size.height - room.first_row - room.rows;
        const std::size_t bytes = room.rows * row_bytes;
        if (c.input.read_at(m32::kPixelRecordsOffset + std::uint64_t{top} * row_bytes, rows.get(),
                          bytes) != bytes) {
            return Report{Message::Damaged, c.job.input, "records end early"};
        }
        for (std::uint32_t i = 0; i < room.rows; ++i) {
            tga::pixels_from_records(rows.get() + (room.rows - 1 - i) * row_bytes, size.width,
                                     room.data + i * row_bytes);
        }
        if (!output.commit()) {
            break;
        }
    }
    return std::nullopt;
}

}  // namespace

Step convert_to_tga(Conversion& c) {
    platform::OutputFile& output = c.workspace.output;
    const DiscardUnfinished discard{output};
    platform::File::Opened opened = platform::File::Opened::Missing;
    if (Step s = c.begin(opened)) {
        return s;
    }
    const std::uint64_t file_size = c.input.state().size;
    m32::TemplateBlock own;
    if (opened != platform::File::Opened::Yes || file_size < m32::kPixelRecordsOffset ||
        (file_size - m32::kPixelRecordsOffset) % m32::kRecordBytes != 0 ||
        c.input.read_at(m32::kTemplateBlockOffset, own.data(), own.size()) != own.size()) {
        return Report{Message::NotM32, c.job.input};
    }
    Size size{};
    const std::uint64_t records = (file_size - m32::kPixelRecordsOffset) / m32::kRecordBytes;
    const Step found = find_size(c, records, own, size);
    c.schedule.template_read(c.index);
    if (found) {
        return found;
    }
    c.print("Resolution is " + size_text(size) + "\nNeeds " +
            std::to_string(records * m32::kRecordBytes) + " bytes in memory\n");
    c.wait_for_earlier_writers_of_the_output();
    // The TGA file beside an M32 file is usually the artist's own work. A link of its name that
    // leads nowhere yet is a file of that name too.
    if (c.place.state != platform::OutputPlace::State::Missing ||
        c.place.target != c.settings().path(c.job.output)) {
        return Report{Message::TgaExists, c.job.output};
    }
    if (Step s = c.open_output(tga::file_shape(size.width, size.height))) {
        return s;
    }
    if (Step s = write_pixels(c, size)) {
        return s;
    }
    c.input.close();
    c.wait_for_earlier_readers_of_the_output();
    switch (output.finish(true)) {
        case platform::Replacement::Put::Done:
            return std::nullopt;
        case platform::Replacement::Put::NameTaken:
            return Report{Message::TgaExists, c.job.output};
        case platform::Replacement::Put::Failed:
            break;
    }
    return Report{Message::WriteFailed, c.job.output};
}

}  // namespace varnel::driver
