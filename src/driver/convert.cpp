#include "driver/convert.hpp"

#include "m32/naming.hpp"
#include "platform/replacement.hpp"
#include "platform/text.hpp"

namespace varnel::driver {

namespace {

using Step = std::optional<Report>;

std::size_t read_file(const void* context, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    return static_cast<const platform::File*>(context)->read_at(offset, out, n);
}

Report input_failure(const std::string& input_name, const tga::Failure& failure) {
    switch (failure.kind) {
        case tga::FailureKind::Unsupported:
            return {Message::Unsupported, input_name, failure.reason};
        case tga::FailureKind::OutOfMemory:
            return {Message::OutOfMemory, std::to_string(failure.bytes)};
        case tga::FailureKind::NotTga:
            return {Message::NotTga, input_name};
        case tga::FailureKind::Damaged:
        case tga::FailureKind::None:
            break;
    }
    return {Message::Damaged, input_name, failure.reason};
}

Step read_template(Conversion& c, const std::string& shown, m32::TemplateBlock& block,
                   platform::FileKey& key) {
    const std::string path = c.settings().path(shown);
    platform::FileState seen;
    const bool there = c.look_at_when_written(path, seen);
    switch (c.workspace.templates.read(path, there ? &seen : nullptr, block, key)) {
        case m32::TemplateRead::Ok:
            return std::nullopt;
        case m32::TemplateRead::TooShort:
        // There, but no header block can be had from it: the nearest of the messages.
        case m32::TemplateRead::Unreadable:
            return Report{Message::TemplateTooShort, shown};
        case m32::TemplateRead::Missing:
            break;
    }
    return Report{Message::TemplateMissing, shown};
}

Step make_header_name(const Settings& settings, const std::string& output, std::string& header) {
    if (!settings.has_directory) {
        return Report{Message::NoCurrentDirectory};
    }
    const std::string name = m32::header_name(settings.directory, output);
    header = platform::header_text(name);
    if (header.size() > m32::kMaxHeaderName) {
        return Report{Message::HeaderNameTooLong, name, std::to_string(m32::kMaxHeaderName)};
    }
    return std::nullopt;
}

// True where an output's name has the form a template's has, "<width>x<height>.m32" in either
// case, so that another file of the run may read it as its template.
bool may_be_a_template(const std::string& output) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    const std::size_t size = output.size();
    if (size < 7 || output[size - 4] != '.' || lower(output[size - 3]) != 'm' ||
        output[size - 2] != '3' || output[size - 1] != '2') {
        return false;
    }
    const std::size_t x = output.find_last_not_of("0123456789", size - 5);
    return x != std::string::npos && x > 0 && x + 1 < size - 4 && lower(output[x]) == 'x' &&
           output[x - 1] >= '0' && output[x - 1] <= '9';
}

// The output side: the template, the output's name and the new file, then the records as the
// reader makes them, straight into the output's blocks.
Step write_output(Conversion& c) {
    tga::Reader& reader = c.workspace.reader;
    platform::OutputFile& output = c.workspace.output;
    const std::string template_path =
        m32::template_path(c.settings().prefix, reader.width(), reader.height());
    m32::TemplateBlock block{};
    platform::FileKey template_key;
    const Step read = read_template(c, template_path, block, template_key);
    c.schedule.template_read(c.index);
    if (read) {
        return read;
    }
    c.wait_for_earlier_writers_of_the_output();
    if (c.place.keys.file && *c.place.keys.file == template_key) {
        return Report{Message::OutputIsTemplate, c.job.output};
    }
    std::string header_name;
    if (Step s = make_header_name(c.settings(), c.job.output, header_name)) {
        return s;
    }
    if (Step s = c.open_output(m32::file_shape(m32::make_header_start(header_name), block,
                                               reader.width(), reader.height(),
                                               reader.row_order()))) {
        return s;
    }
    for (platform::Room room; (room = output.room()).rows > 0;) {
        if (tga::Failure f = reader.read_rows(room.first_row, room.rows, room.data)) {
            return input_failure(c.job.input, f);
        }
        if (!output.commit()) {
            return Report{Message::WriteFailed, c.job.output};
        }
    }
    // Closed first: an input that is its own output ('tga.m32') is replaced by the rename.
    c.input.close();
    c.wait_for_earlier_readers_of_the_output();
    if (may_be_a_template(c.place.target)) {
        c.schedule.wait_for_earlier_templates(c.index);
    }
    if (output.finish(false) != platform::Replacement::Put::Done) {
        return Report{Message::WriteFailed, c.job.output};
    }
    return std::nullopt;
}

bool is_input_side(Message message) {
    return message == Message::Damaged || message == Message::Unsupported ||
           message == Message::NotTga;
}

}  // namespace

Step convert_to_m32(Conversion& c) {
    tga::Reader& reader = c.workspace.reader;
    const DiscardUnfinished discard{c.workspace.output};
    platform::File::Opened opened = platform::File::Opened::Missing;
    if (Step s = c.begin(opened)) {
        return s;
    }
    // An input that is there but cannot be read (no permission, too many open files, a loop of
    // links) is as unreadable as one that is no file: the nearest of the messages.
    const tga::Input in{c.input.state().size, read_file, &c.input};
    if (opened != platform::File::Opened::Yes || reader.open(in)) {
        return Report{Message::NotTga, c.job.input};
    }
    const std::uint64_t needs = std::uint64_t{reader.width()} * reader.height() * 3;
    c.print("Resolution is " + std::to_string(reader.width()) + "x" +
            std::to_string(reader.height()) + "\nNeeds " + std::to_string(needs) +
            " bytes in memory\n");
    if (tga::Failure f = reader.prepare()) {
        return input_failure(c.job.input, f);
    }
    Step outcome = write_output(c);
    // Damage in the input is checked before anything on the output side, and reported first;
    // the pixels are read in one pass while they are written, so a failure on the output side
    // has the rest of them read for damage before it is reported.
    if (outcome && !is_input_side(outcome->message) && c.input.is_open()) {
        if (tga::Failure f = reader.find_damage()) {
            return input_failure(c.job.input, f);
        }
    }
    return outcome;
}

}  // namespace varnel::driver
