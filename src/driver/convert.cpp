#include "driver/convert.hpp"

#include "m32/naming.hpp"
#include "platform/replacement.hpp"
#include "platform/text.hpp"

namespace varnel::driver {

namespace {

using Step = std::optional<Report>;

// One file's conversion and what it works with.
struct Conversion {
    const Settings& settings;
    Workspace& workspace;
    const Job& job;
    Schedule& schedule;
    std::size_t index;
};

std::size_t read_file(const void* context, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    return static_cast<const platform::File*>(context)->read_at(offset, out, n);
}

Report input_failure(const std::string& input_name, const tga::Failure& failure) {
    switch (failure.kind) {
        case tga::FailureKind::Unsupported:
            return {Message::Unsupported, input_name, failure.reason};
        case tga::FailureKind::OutOfMemory:
            return {Message::OutOfMemory, std::to_string(failure.bytes), {}};
        case tga::FailureKind::NotTga:
            return {Message::NotTga, input_name, {}};
        case tga::FailureKind::Damaged:
        case tga::FailureKind::None:
            break;
    }
    return {Message::Damaged, input_name, failure.reason};
}

// The keys of what a name stands for now.
platform::NameKeys keys_of(const std::string& name, const platform::File& opened,
                           platform::File::Opened how, platform::FolderKeys& folders) {
    const bool there =
        how == platform::File::Opened::Yes || how == platform::File::Opened::NotRegular;
    return folders.keys_of(name, there ? &opened.state() : nullptr);
}

// The input as it is once every earlier file of the run that writes it is done.
platform::File::Opened open_input(Conversion& c, platform::File& input) {
    platform::File::Opened opened = input.open_for_reading(c.job.input);
    if (c.schedule.wait_for_earlier_writers(
            c.index, keys_of(c.job.input, input, opened, c.workspace.folders))) {
        opened = input.open_for_reading(c.job.input);
    }
    return opened;
}

Step read_template(Conversion& c, const std::string& path, m32::TemplateBlock& block,
                   platform::FileKey& key) {
    platform::FileState seen;
    bool there = platform::look_at(path, seen);
    if (c.schedule.wait_for_earlier_writers(
            c.index, c.workspace.folders.keys_of(path, there ? &seen : nullptr))) {
        there = platform::look_at(path, seen);
    }
    switch (c.workspace.templates.read(path, there ? &seen : nullptr, block, key)) {
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
// reader makes them, straight into the writer's blocks.
Step write_output(Conversion& c, platform::File& input, platform::OutputPlace& place) {
    tga::Reader& reader = c.workspace.reader;
    m32::Writer& writer = c.workspace.writer;
    const std::string template_path =
        m32::template_path(c.settings.prefix, reader.width(), reader.height());
    m32::TemplateBlock block{};
    platform::FileKey template_key;
    const Step read = read_template(c, template_path, block, template_key);
    c.schedule.template_read(c.index);
    if (read) {
        return read;
    }
    // An earlier file of the run that writes the same output is done with it first.
    if (c.schedule.wait_for_earlier_writers(c.index, place.keys)) {
        place = platform::look_at_output(c.job.output, c.workspace.folders);
    }
    if (place.keys.file && *place.keys.file == template_key) {
        return Report{Message::OutputIsTemplate, c.job.output, {}};
    }
    std::string header_name;
    if (Step s = make_header_name(c.settings, c.job.output, header_name)) {
        return s;
    }
    switch (writer.open(place, m32::make_header_start(header_name), block, reader.width(),
                        reader.height(), reader.row_order())) {
        case m32::Writer::Opened::Yes:
            break;
        case m32::Writer::Opened::Refused:
            return Report{Message::CannotOpenOutput, c.job.output, {}};
        case m32::Writer::Opened::OutOfMemory:
            return Report{Message::OutOfMemory, std::to_string(writer.memory_requested()), {}};
    }
    for (m32::Room room; (room = writer.room()).rows > 0;) {
        if (tga::Failure f = reader.read_rows(room.first_row, room.rows, room.data)) {
            return input_failure(c.job.input, f);
        }
        if (!writer.commit()) {
            break;
        }
    }
    // Closed first: an input that is its own output ('tga.m32') is replaced by the rename.
    input.close();
    if (may_be_a_template(c.job.output)) {
        c.schedule.wait_for_earlier_templates(c.index);
    }
    if (!writer.finish()) {
        return Report{Message::WriteFailed, c.job.output, {}};
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

Job job_for(const std::string& name) {
    const bool tga = name.find("tga") != std::string::npos || name.find("TGA") != std::string::npos;
    return {name, tga ? m32::output_name(name) : std::string()};
}

Step convert_file(const Settings& settings, Workspace& workspace, const Job& job,
                  Schedule& schedule, std::size_t index, const Print& print) {
    Conversion c{settings, workspace, job, schedule, index};
    tga::Reader& reader = workspace.reader;
    const DiscardUnfinished discard{workspace.writer};
    platform::OutputPlace place = platform::look_at_output(job.output, workspace.folders);
    schedule.will_write(index, place.keys);
    platform::File input;
    const platform::File::Opened opened = open_input(c, input);
    if (opened == platform::File::Opened::Missing) {
        return Report{Message::InputMissing, job.input, {}};
    }
    print("Processing " + job.input + "\n");
    // An input that is there but cannot be read (no permission, too many open files, a loop of
    // links) is as unreadable as one that is no file: the nearest of the messages.
    const tga::Input in{input.state().size, read_file, &input};
    if (opened != platform::File::Opened::Yes || reader.open(in)) {
        return Report{Message::NotTga, job.input, {}};
    }
    const std::uint64_t needs = std::uint64_t{reader.width()} * reader.height() * 3;
    print("Resolution is " + std::to_string(reader.width()) + "x" +
          std::to_string(reader.height()) + "\nNeeds " + std::to_string(needs) +
          " bytes in memory\n");
    if (tga::Failure f = reader.prepare()) {
        return input_failure(job.input, f);
    }
    Step outcome = write_output(c, input, place);
    // Damage in the input is checked before anything on the output side, and reported first;
    // the pixels are read in one pass while they are written, so a failure on the output side
    // has the rest of them read for damage before it is reported.
    if (outcome && !is_input_side(outcome->message) && input.is_open()) {
        if (tga::Failure f = reader.find_damage()) {
            return input_failure(job.input, f);
        }
    }
    return outcome;
}

}  // namespace varnel::driver
