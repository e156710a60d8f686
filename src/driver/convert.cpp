#include "driver/convert.hpp"

#include "m32/m32_layout.hpp"
#include "m32/naming.hpp"
#include "m32/writer.hpp"
#include "platform/platform.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::driver {

namespace {

using Step = std::optional<Report>;

std::size_t read_file(const void* context, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    return platform::read_at(*static_cast<const platform::File*>(context), offset, out, n);
}

Report input_failure(const std::string& input_name, const std::string& output_name,
                     const tga::Failure& failure) {
    switch (failure.kind) {
        case tga::FailureKind::Unsupported:
            return {Message::Unsupported, input_name, failure.reason};
        case tga::FailureKind::OutOfMemory:
            return {Message::OutOfMemory, std::to_string(failure.bytes), {}};
        case tga::FailureKind::NotTga:
            return {Message::NotTga, input_name, {}};
        case tga::FailureKind::Misuse:
            // Records that cannot be made cannot be written.
            return {Message::WriteFailed, output_name, {}};
        case tga::FailureKind::Damaged:
        case tga::FailureKind::None:
            break;
    }
    return {Message::Damaged, input_name, failure.reason};
}

Step read_template(const std::string& path, m32::TemplateBlock& block) {
    switch (m32::read_template_block(path, block)) {
        case m32::TemplateRead::Ok:
            return std::nullopt;
        case m32::TemplateRead::TooShort:
        // There, but no header block can be had from it: the nearest of the messages.
        case m32::TemplateRead::Unreadable:
            return Report{Message::TemplateTooShort, path, {}};
        case m32::TemplateRead::Missing:
            break;
    }
    return Report{Message::TemplateMissing, path, {}};
}

Step make_header_name(const Settings& settings, const std::string& output, std::string& header) {
    if (!settings.has_directory) {
        return Report{Message::NoCurrentDirectory, {}, {}};
    }
    const std::string name = m32::header_name(settings.directory, output);
    header = platform::header_text(name);
    if (header.size() > m32::kMaxHeaderName) {
        return Report{Message::HeaderNameTooLong, name, {}};
    }
    return std::nullopt;
}

// The output side: the template, the output's name and the new file, then the records as the
// reader makes them, straight into the writer's blocks.
Step write_output(const Settings& settings, const std::string& input_name,
                  platform::File& input_file, tga::Reader& reader, m32::Writer& writer) {
    const std::string template_path =
        m32::template_path(settings.prefix, reader.width(), reader.height());
    m32::TemplateBlock block{};
    if (Step s = read_template(template_path, block)) {
        return s;
    }
    const std::string output_name = m32::output_name(input_name);
    if (platform::same_file(output_name, template_path)) {
        return Report{Message::OutputIsTemplate, output_name, {}};
    }
    std::string header_name;
    if (Step s = make_header_name(settings, output_name, header_name)) {
        return s;
    }
    switch (writer.open(output_name, m32::make_header_start(header_name), block, reader.width(),
                        reader.height(), reader.row_order())) {
        case m32::Writer::Opened::Yes:
            break;
        case m32::Writer::Opened::Refused:
            return Report{Message::CannotOpenOutput, output_name, {}};
        case m32::Writer::Opened::OutOfMemory:
            return Report{Message::OutOfMemory, std::to_string(writer.memory_requested()), {}};
    }
    const Report write_failed{Message::WriteFailed, output_name, {}};
    while (writer.rows_left() > 0) {
        const m32::Room room = writer.room();
        if (room.bytes == 0) {
            return write_failed;
        }
        if (tga::Failure f = reader.read_rows(room.data, room.bytes)) {
            return input_failure(input_name, output_name, f);
        }
        if (!writer.commit()) {
            return write_failed;
        }
    }
    // Closed first: an input that is its own output ('tga.m32') is replaced by the rename.
    platform::close_file(input_file);
    if (!writer.finish()) {
        return write_failed;
    }
    return std::nullopt;
}

// The writer's new file is gone whatever path the conversion leaves by.
struct DiscardUnfinished {
    m32::Writer& writer;
    ~DiscardUnfinished() {
        writer.discard();
    }
};

bool is_input_side(Message message) {
    return message == Message::Damaged || message == Message::Unsupported ||
           message == Message::NotTga;
}

}  // namespace

bool names_a_tga(const std::string& name) {
    return name.find("tga") != std::string::npos || name.find("TGA") != std::string::npos;
}

Step convert_file(const Settings& settings, Workspace& workspace, const std::string& input_name,
                  const Print& print) {
    tga::Reader& reader = workspace.reader;
    const DiscardUnfinished discard{workspace.writer};
    platform::File input_file;
    const platform::OpenResult opened = platform::open_for_reading(input_name, input_file);
    if (opened == platform::OpenResult::Missing || opened == platform::OpenResult::Failed) {
        return Report{Message::InputMissing, input_name, {}};
    }
    print("Processing " + input_name + "\n");
    tga::Input input{0, read_file, &input_file};
    if (opened == platform::OpenResult::NotRegular ||
        !platform::file_size(input_file, input.size) || reader.open(input)) {
        return Report{Message::NotTga, input_name, {}};
    }
    const std::uint64_t needs = std::uint64_t{reader.width()} * reader.height() * 3;
    print("Resolution is " + std::to_string(reader.width()) + "x" +
          std::to_string(reader.height()) + "\nNeeds " + std::to_string(needs) +
          " bytes in memory\n");
    if (tga::Failure f = reader.prepare()) {
        return input_failure(input_name, m32::output_name(input_name), f);
    }
    Step outcome = write_output(settings, input_name, input_file, reader, workspace.writer);
    // Damage in the input is checked before anything on the output side, and reported first;
    // the pixels are read in one pass while they are written, so a failure on the output side
    // has the rest of them read for damage before it is reported.
    if (outcome && !is_input_side(outcome->message) && platform::is_open(input_file)) {
        if (tga::Failure f = reader.find_damage()) {
            return input_failure(input_name, m32::output_name(input_name), f);
        }
    }
    return outcome;
}

}  // namespace varnel::driver
