// The sources of a conversion's rows: a TGA image, and the records of an M32 file.
#include <tuple>
#include <vector>

#include "driver/conversion.hpp"
#include "m32/naming.hpp"
#include "platform/text.hpp"

namespace varnel::driver {

namespace {

std::size_t read_file(const void* context, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    return static_cast<const platform::File*>(context)->read_at(offset, out, n);
}

class TgaSource : public Source {
public:
    TgaSource(const Job& job, platform::File& input, tga::Reader& reader)
        : job_(job), input_(input), reader_(reader) {}

    // An input that is there but cannot be read (no permission, too many open files, a loop of
    // links) is as unreadable as one that is no file: the nearest of the messages.
    std::optional<Report> read_size(bool readable, Templates&, Image& image) override {
        if (!readable || reader_.open({input_.state().size, read_file, &input_})) {
            return Report{Message::NotTga, job_.input()};
        }
        image.width = reader_.width();
        image.height = reader_.height();
        image.needs = std::uint64_t{image.width} * image.height * 3;
        return std::nullopt;
    }

    std::optional<Report> prepare(Image& image) override {
        const std::optional<Report> refused = failure(reader_.prepare());
        image.order = reader_.row_order();
        return refused;
    }

    std::optional<Report> read_rows(std::uint32_t first, std::uint32_t count,
                                    std::uint8_t* records) override {
        return failure(reader_.read_rows(first, count, records));
    }

    std::optional<Report> find_damage() override {
        return failure(reader_.find_damage());
    }

private:
    std::optional<Report> failure(const tga::Failure& f) const {
        switch (f.kind) {
            case tga::FailureKind::None:
                return std::nullopt;
            case tga::FailureKind::Unsupported:
                return Report{Message::Unsupported, job_.input(), f.reason};
            case tga::FailureKind::OutOfMemory:
                return Report{Message::OutOfMemory, std::to_string(f.bytes)};
            case tga::FailureKind::NotTga:
                return Report{Message::NotTga, job_.input()};
            case tga::FailureKind::Damaged:
                break;
        }
        return Report{Message::Damaged, job_.input(), f.reason};
    }

    const Job& job_;
    platform::File& input_;
    tga::Reader& reader_;
};

// An M32 file holds its records, not its size: the resolution templates the user has say it.
class M32Source : public Source {
public:
    M32Source(const Job& job, platform::File& input) : job_(job), input_(input) {}

    std::optional<Report> read_size(bool readable, Templates& templates, Image& image) override {
        const std::uint64_t size = input_.state().size;
        m32::HeaderStart start;
        m32::TemplateBlock own;
        if (!readable || size < m32::kPixelRecordsOffset ||
            (size - m32::kPixelRecordsOffset) % m32::kRecordBytes != 0 ||
            input_.read_at(0, start.data(), start.size()) != start.size() ||
            input_.read_at(m32::kTemplateBlockOffset, own.data(), own.size()) != own.size()) {
            return Report{Message::NotM32, job_.input()};
        }
        image.needs = size - m32::kPixelRecordsOffset;
        bool own_block = false;
        std::optional<Report> failure =
            find_size(templates, image.needs / m32::kRecordBytes, own, own_block);
        image.width = width_;
        image.height = height_;
        // A game's own file may carry a header that a conversion in this folder would not write
        // again: its TGA file comes back the same only where the header is kept.
        const std::optional<std::string>& directory = job_.settings().directory();
        const std::optional<m32::HeaderStart> forward =
            directory ? m32::make_header_start(platform::header_text(
                            m32::header_name(*directory, m32::renamed(job_.output(), "m32"))))
                      : std::nullopt;
        if (!failure && (!forward || *forward != start || !own_block)) {
            image.note = Report{Message::HeaderNotKept, job_.input(), job_.output()};
        }
        return failure;
    }

    std::optional<Report> prepare(Image&) override {
        return std::nullopt;
    }

    std::optional<Report> read_rows(std::uint32_t first, std::uint32_t count,
                                    std::uint8_t* records) override {
        const std::size_t row_bytes = std::size_t{width_} * m32::kRecordBytes;
        const std::size_t bytes = count * row_bytes;
        if (input_.read_at(m32::kPixelRecordsOffset + std::uint64_t{first} * row_bytes, records,
                           bytes) != bytes) {
            return Report{Message::Damaged, job_.input(), "records end early"};
        }
        return std::nullopt;
    }

    std::optional<Report> find_damage() override {
        return std::nullopt;
    }

private:
    // A template of a size with as many records, and best one whose header block is the file's
    // own: exactly one such, or else exactly one that fits, tells the size.
    std::optional<Report> find_size(Templates& templates, std::uint64_t records,
                                    const m32::TemplateBlock& own, bool& own_block) {
        constexpr std::uint64_t kLargestSide = 65535;
        std::vector<std::pair<std::uint16_t, std::uint16_t>> fitting;
        std::vector<std::pair<std::uint16_t, std::uint16_t>> same_block;
        for (std::uint64_t width = 1; width <= kLargestSide && width <= records; ++width) {
            if (records % width != 0 || records / width > kLargestSide) {
                continue;
            }
            const auto size = std::make_pair(static_cast<std::uint16_t>(width),
                                             static_cast<std::uint16_t>(records / width));
            m32::TemplateBlock block;
            platform::FileKey key;
            const m32::TemplateRead read = templates.read(
                m32::template_path(job_.settings().prefix(), size.first, size.second), block, key);
            if (read != m32::TemplateRead::Missing) {
                fitting.push_back(size);
            }
            if (read == m32::TemplateRead::Ok && block == own) {
                same_block.push_back(size);
            }
        }
        const auto& told = same_block.empty() ? fitting : same_block;
        if (told.size() == 1) {
            std::tie(width_, height_) = told.front();
            own_block = !same_block.empty();
            return std::nullopt;
        }
        if (told.empty()) {
            return Report{Message::NoTemplateFits, std::to_string(records), job_.input()};
        }
        std::string sizes;
        for (const auto& [w, h] : told) {
            sizes += (sizes.empty() ? "" : ", ") + std::to_string(w) + "x" + std::to_string(h);
        }
        return Report{Message::TemplatesDisagree, job_.input(), std::to_string(records), sizes};
    }

    const Job& job_;
    platform::File& input_;
    std::uint16_t width_ = 0;
    std::uint16_t height_ = 0;
};

}  // namespace

std::unique_ptr<Source> tga_source(const Job& job, platform::File& input, tga::Reader& reader) {
    return std::make_unique<TgaSource>(job, input, reader);
}

std::unique_ptr<Source> m32_source(const Job& job, platform::File& input) {
    return std::make_unique<M32Source>(job, input);
}

}  // namespace varnel::driver
