// The sinks of a conversion's rows: an M32 file, and a TGA file to edit.
#include "driver/conversion.hpp"
#include "m32/naming.hpp"
#include "platform/text.hpp"
#include "tga/tga_writer.hpp"

namespace varnel::driver {

namespace {

// The records go into the file as they are, after the header start and the resolution
// template's block.
class M32Sink : public Sink {
public:
    explicit M32Sink(const Job& job) : Sink(false, platform::Existing::Replace), job_(job) {}

    std::optional<Report> plan(Templates& templates, const Image& image) override {
        const std::string name =
            m32::template_path(job_.folder().prefix(), image.width, image.height);
        switch (templates.read(name, block_, template_key_)) {
            case m32::TemplateRead::Ok:
                return std::nullopt;
            case m32::TemplateRead::TooShort:
            // There, but no header block can be had from it: the nearest of the messages.
            case m32::TemplateRead::Unreadable:
                return Report{Message::TemplateTooShort, name};
            case m32::TemplateRead::Missing:
                break;
        }
        return Report{Message::TemplateMissing, name};
    }

    std::optional<Report> shape(const platform::OutputPlace& place, const Image&,
                                platform::OutputFile::Shape& shape) override {
        if (place.keys.file && *place.keys.file == template_key_) {
            return Report{Message::OutputIsTemplate, job_.output()};
        }
        const std::optional<std::string>& directory = job_.folder().directory();
        if (!directory) {
            return Report{Message::NoCurrentDirectory};
        }
        const std::string name = m32::header_name(*directory, job_.output());
        const std::optional<m32::HeaderStart> start =
            m32::make_header_start(platform::header_text(name));
        if (!start) {
            return Report{Message::HeaderNameTooLong, name, std::to_string(m32::kMaxHeaderName)};
        }
        shape.head = m32::file_head(*start, block_);
        return std::nullopt;
    }

    std::uint8_t* records_for(const platform::Room& room) override {
        return room.data;
    }

    void finish_rows(const std::uint8_t*, const platform::Room&, std::uint16_t) const override {}

    Report name_taken() const override {
        return {Message::WriteFailed, job_.output()};
    }

private:
    const Job& job_;
    m32::TemplateBlock block_{};
    platform::FileKey template_key_;
};

// A TGA file beside an M32 file is usually the artist's own work: an existing one is never
// replaced.
class TgaSink : public Sink {
public:
    TgaSink(const Job& job, Buffer& staging)
        : Sink(true, platform::Existing::Keep), job_(job), staging_(staging) {}

    std::optional<Report> plan(Templates&, const Image&) override {
        return std::nullopt;
    }

    // A link of the TGA file's name that leads nowhere yet is a file of that name too.
    std::optional<Report> shape(const platform::OutputPlace& place, const Image& image,
                                platform::OutputFile::Shape& shape) override {
        if (place.state != platform::OutputPlace::State::Missing ||
            place.target != job_.folder().path(job_.output())) {
            return name_taken();
        }
        shape = tga::file_shape(image.width, image.height);
        return std::nullopt;
    }

    std::uint8_t* records_for(const platform::Room& room) override {
        return staging_.get(room.rows * room.row_bytes);
    }

    // The room's rows are the file's, bottom row first: the records' rows the other way up.
    void finish_rows(const std::uint8_t* records, const platform::Room& room,
                     std::uint16_t width) const override {
        for (std::uint32_t i = 0; i < room.rows; ++i) {
            tga::pixels_from_records(records + (room.rows - 1 - i) * room.row_bytes, width,
                                     room.data + i * room.row_bytes);
        }
    }

    Report name_taken() const override {
        return {Message::TgaExists, job_.output()};
    }

private:
    const Job& job_;
    Buffer& staging_;
};

}  // namespace

std::unique_ptr<Sink> m32_sink(const Job& job) {
    return std::make_unique<M32Sink>(job);
}

std::unique_ptr<Sink> tga_sink(const Job& job, Buffer& staging) {
    return std::make_unique<TgaSink>(job, staging);
}

}  // namespace varnel::driver
