#include "driver/conversion.hpp"

#include <new>

#include "m32/naming.hpp"
#include "platform/replacement.hpp"

namespace varnel::driver {

namespace {

// The new output's memory and file are gone whatever way a conversion leaves by.
struct DiscardUnfinished {
    platform::OutputFile& output;
    ~DiscardUnfinished() {
        output.discard();
    }
};

}  // namespace

std::uint8_t* Buffer::get(std::size_t bytes) {
    if (!bytes_ || bytes > size_) {
        bytes_.reset(new (std::nothrow) std::uint8_t[bytes]);
        size_ = bytes_ ? bytes : 0;
    }
    return bytes_.get();
}

Conversion::Conversion(Workspace& workspace, const Job& job, Schedule& schedule, std::size_t index,
                       const Print& print, const Choices& choices)
    : workspace_(workspace),
      job_(job),
      schedule_(schedule),
      index_(index),
      print_(print),
      choices_(choices) {}

std::optional<Report> Conversion::run() {
    if (job_.direction() == Direction::ToM32) {
        return convert(*tga_source(job_, input_, workspace_.reader),
                       *m32_sink(job_, choices_.keep_header));
    }
    return convert(*m32_source(job_, input_), *tga_sink(job_, workspace_.staging));
}

void Conversion::stat_output() {
    output_looked_ = schedule_.ended();
    output_place_ =
        platform::stat_output(job_.settings().folder(), job_.output(), workspace_.folders);
}

platform::NameKeys Conversion::keys_of(const platform::Folder& folder, const std::string& name,
                                       const platform::File& file, platform::File::Opened opened) {
    const bool there =
        opened == platform::File::Opened::Yes || opened == platform::File::Opened::NotRegular;
    return workspace_.folders.keys_of(folder, name, there ? &file.state() : nullptr);
}

platform::File::Opened Conversion::open_input() {
    const platform::Folder& folder = job_.settings().folder();
    const std::uint64_t looked = schedule_.ended();
    platform::File::Opened opened = input_.open_for_reading(folder, job_.input());
    const platform::NameKeys keys = keys_of(folder, job_.input(), input_, opened);
    schedule_.will_use(index_, output_place_.keys, keys);
    if (schedule_.wait_for_earlier_writers(index_, keys, looked)) {
        opened = input_.open_for_reading(folder, job_.input());
    }
    return opened;
}

m32::TemplateRead Conversion::read(const std::string& name, m32::TemplateBlock& block,
                                   platform::FileKey& key) {
    const platform::Folder& folder = job_.settings().templates();
    platform::File file;
    const std::uint64_t looked = schedule_.ended();
    platform::File::Opened opened = file.open_for_reading(folder, name);
    // A template is the file it is, whatever name or link it is reached by: where it is not there
    // yet, the file its links lead to, which an earlier file may be making. Following the links
    // of a missing name costs a look per link, so it is done only while an earlier file is busy.
    platform::NameKeys keys;
    if (opened != platform::File::Opened::Missing) {
        keys = keys_of(folder, name, file, opened);
    } else if (schedule_.earlier_unfinished(index_)) {
        keys = platform::stat_output(folder, name, workspace_.folders).keys;
    }
    if (schedule_.wait_for_earlier_writers(index_, keys, looked)) {
        opened = file.open_for_reading(folder, name);
    }
    key = file.state().key;
    return m32::read_template(file, opened, block);
}

// The steps of every conversion. Damage in the input is reported before anything on the output
// side: the rows are read in one pass while they are written, so a failure on the output side
// has the rest of them read for damage before it is reported.
std::optional<Report> Conversion::convert(Source& source, Sink& sink) {
    const DiscardUnfinished discard{workspace_.output};
    stat_output();
    const platform::File::Opened opened = open_input();
    if (opened == platform::File::Opened::Missing) {
        return Report{Message::InputMissing, job_.input()};
    }
    Image image;
    const std::optional<Report> size =
        source.read_size(opened == platform::File::Opened::Yes, *this, image);
    if (job_.only_if_out_of_date() && !size && up_to_date(sink, image)) {
        return std::nullopt;
    }
    print_("Processing " + job_.input() + "\n");
    if (size) {
        return size;
    }
    print_("Resolution is " + std::to_string(image.width) + "x" + std::to_string(image.height) +
           "\nNeeds " + std::to_string(image.needs) + " bytes in memory\n");
    if (std::optional<Report> failure = source.prepare(image)) {
        return failure;
    }
    std::optional<Report> outcome = write(source, sink, image);
    if (outcome && !is_about_the_input(outcome->message) && input_.is_open()) {
        if (std::optional<Report> damage = source.find_damage()) {
            return damage;
        }
    }
    return outcome;
}

// As make judges it: by the times the files last changed, of the output against its input, its
// path.ini and its template, each as every earlier file of the run that writes it leaves it.
bool Conversion::up_to_date(const Sink& sink, const Image& image) {
    if (schedule_.wait_for_earlier_writers(index_, output_place_.keys, output_looked_)) {
        stat_output();
    }
    const Settings& settings = job_.settings();
    const std::int64_t made = output_place_.modified;
    if (output_place_.state == platform::OutputPlace::State::Missing ||
        made < input_.state().modified || made < settings.path_ini_modified()) {
        return false;
    }
    if (!sink.uses_template(output_place_, image)) {
        return true;
    }
    const std::string name = m32::template_path(settings.prefix(), image.width, image.height);
    const platform::NameKeys keys =
        platform::stat_output(settings.templates(), name, workspace_.folders).keys;
    // Looked at again below, after the wait.
    schedule_.wait_for_earlier_writers(index_, keys, schedule_.ended());
    platform::FileState state;
    return !platform::stat(settings.templates(), name, state) || state.modified <= made;
}

std::optional<Report> Conversion::write(Source& source, Sink& sink, const Image& image) {
    if (schedule_.wait_for_earlier_writers(index_, output_place_.keys, output_looked_)) {
        stat_output();
    }
    const std::optional<Report> planned = sink.plan(*this, output_place_, image);
    schedule_.template_read(index_);
    if (planned) {
        return planned;
    }
    platform::OutputFile::Shape shape;
    if (std::optional<Report> refused = sink.shape(output_place_, image, shape)) {
        return refused;
    }
    shape.row_bytes = std::size_t{image.width} * m32::kRecordBytes;
    shape.rows = image.height;
    shape.from_the_end = (image.order == m32::RowOrder::BottomFirst) != sink.bottom_first;
    if (std::optional<Report> failure = open_output(shape)) {
        return failure;
    }
    platform::OutputFile& output = workspace_.output;
    for (platform::Room room; (room = output.room()).rows > 0;) {
        std::uint8_t* records = sink.records_for(room);
        if (records == nullptr) {
            return Report{Message::OutOfMemory, std::to_string(room.rows * room.row_bytes)};
        }
        const std::uint32_t first =
            sink.bottom_first ? image.height - room.first_row - room.rows : room.first_row;
        if (std::optional<Report> failure = source.read_rows(first, room.rows, records)) {
            return failure;
        }
        sink.finish_rows(records, room, image.width);
        if (!output.commit()) {
            return Report{Message::WriteFailed, job_.output()};
        }
    }
    // Closed first: an input that is its own output ('tga.m32') is replaced by the rename.
    input_.close();
    // Whatever its name, the output may be what an earlier file reads as its template.
    schedule_.wait_for_earlier_readers(index_, output_place_.keys);
    schedule_.wait_for_earlier_templates(index_);
    switch (output.finish(sink.existing)) {
        case platform::Put::Done:
            if (image.note) {
                print_(message_text(*image.note));
            }
            return std::nullopt;
        case platform::Put::NameTaken:
            return sink.name_taken();
        case platform::Put::Failed:
            break;
    }
    return Report{Message::WriteFailed, job_.output()};
}

std::optional<Report> Conversion::open_output(const platform::OutputFile::Shape& shape) {
    switch (workspace_.output.open(output_place_, shape)) {
        case platform::OutputFile::Opened::Yes:
            return std::nullopt;
        case platform::OutputFile::Opened::Refused:
            break;
        case platform::OutputFile::Opened::OutOfMemory:
            return Report{Message::OutOfMemory,
                          std::to_string(workspace_.output.memory_requested())};
    }
    return Report{Message::CannotOpenOutput, job_.output()};
}

}  // namespace varnel::driver
