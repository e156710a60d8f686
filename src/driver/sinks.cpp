// The sinks of a conversion's rows: an M32 file, and a TGA file to edit.
#include "driver/conversion.hpp"
#include "m32/naming.hpp"
#include "platform/text.hpp"
#include "tga/tga_writer.hpp"

namespace varnel::driver {

namespace {

// The records go into the file as they are, after the header start and the resolution
// template's block; or, keeping the header, after the header of the M32 file of the image's size
// they replace.
class M32Sink : public Sink {
public:
    M32Sink(const Job& job, bool keep_header)
        : Sink(false, platform::Existing::Replace), job_(job), keep_header_(keep_header) {}

    std::optional<Report> plan(Templates& templates, const platform::OutputPlace& place,
                               const Image& image) override {
        if (keep_header_ && read_kept_header(place, image)) {
            return std::nullopt;
        }
        kept_.clear();
        const std::string name = template_name(image);
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

    std::optional<Report> shape(const platform::OutputPlace& place, const Image& image,
                                platform::OutputFile::Shape& shape) override {
        platform::FileState template_file;
        if (!kept_.empty()) {
            // The template is not read, but still never replaced.
            if (place.keys.file &&
                platform::stat(job_.settings().templates(), template_name(image), template_file) &&
                template_file.key == *place.keys.file) {
                return Report{Message::OutputIsTemplate, job_.output()};
            }
            shape.head = kept_;
            return std::nullopt;
        }
        if (place.keys.file && *place.keys.file == template_key_) {
            return Report{Message::OutputIsTemplate, job_.output()};
        }
        const std::optional<std::string>& directory = job_.settings().directory();
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

    bool uses_template(const platform::OutputPlace& place, const Image& image) const override {
        return !keep_header_ || !keeps_header(place, image);
    }

private:
    std::string template_name(const Image& image) const {
        return m32::template_path(job_.settings().prefix(), image.width, image.height);
    }

    static std::uint64_t file_size(const Image& image) {
        return m32::kPixelRecordsOffset +
               std::uint64_t{image.width} * image.height * m32::kRecordBytes;
    }

    // Where the output replaces an M32 file that holds as many records as the image.
    static bool keeps_header(const platform::OutputPlace& place, const Image& image) {
        return place.state == platform::OutputPlace::State::Replaceable &&
               place.size == file_size(image);
    }

    // The whole header of that file, read before the new file takes its place.
    bool read_kept_header(const platform::OutputPlace& place, const Image& image) {
        platform::File file;
        kept_.assign(m32::kPixelRecordsOffset, 0);
        return keeps_header(place, image) &&
               file.open_for_reading(*place.folder, place.target) == platform::File::Opened::Yes &&
               file.state().size == file_size(image) &&
               file.read_at(0, kept_.data(), kept_.size()) == kept_.size();
    }

    const Job& job_;
    const bool keep_header_;
    std::vector<std::uint8_t> kept_;  // the header kept, or empty
    m32::TemplateBlock block_{};
    platform::FileKey template_key_;
};

// A TGA file beside an M32 file is usually the artist's own work: an existing one is never
// replaced.
class TgaSink : public Sink {
public:
    TgaSink(const Job& job, Buffer& staging)
        : Sink(true, platform::Existing::Keep), job_(job), staging_(staging) {}

    std::optional<Report> plan(Templates&, const platform::OutputPlace&, const Image&) override {
        return std::nullopt;
    }

    // A link of the TGA file's name that leads nowhere yet is a file of that name too, and so is
    // one whose ending differs only in case ("rock.TGA"), which converts into the same M32 file.
    std::optional<Report> shape(const platform::OutputPlace& place, const Image& image,
                                platform::OutputFile::Shape& shape) override {
        if (place.state != platform::OutputPlace::State::Missing || place.target != job_.output()) {
            return name_taken();
        }
        for (unsigned capitals = 1; capitals < 8; ++capitals) {
            std::string other = job_.output();
            for (unsigned i = 0; i < 3; ++i) {
                char& c = other[other.size() - 1 - i];
                c = (capitals >> i & 1u) != 0 && c >= 'a' && c <= 'z' ? static_cast<char>(c - 32)
                                                                      : c;
            }
            if (other != job_.output() && platform::exists(*place.folder, other)) {
                return Report{Message::TgaExists, other};
            }
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

    // The template told the M32 file's size.
    bool uses_template(const platform::OutputPlace&, const Image&) const override {
        return true;
    }

private:
    const Job& job_;
    Buffer& staging_;
};

}  // namespace

std::unique_ptr<Sink> m32_sink(const Job& job, bool keep_header) {
    return std::make_unique<M32Sink>(job, keep_header);
}

std::unique_ptr<Sink> tga_sink(const Job& job, Buffer& staging) {
    return std::make_unique<TgaSink>(job, staging);
}

}  // namespace varnel::driver
