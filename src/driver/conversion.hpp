// One file's conversion: the steps of every direction, in their order, over the source that the
// rows come from and the sink that makes the output file of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "driver/job.hpp"
#include "driver/messages.hpp"
#include "driver/schedule.hpp"
#include "m32/m32_layout.hpp"
#include "platform/file.hpp"
#include "platform/output_file.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::driver {

using Print = std::function<void(const std::string& text)>;

// Memory kept from one use to the next, grown as needed.
class Buffer {
public:
    // Room for `bytes`; null when the memory cannot be had.
    std::uint8_t* get(std::size_t bytes);

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_ = 0;
};

// What a worker keeps from one file to the next.
struct Workspace {
    tga::Reader reader;
    platform::OutputFile output;
    platform::FolderKeys folders;
    Buffer staging;  // rows made in one form before they go into the output in another
};

// How a run converts every file.
struct Choices {
    bool keep_header = false;  // an existing M32 output of the image's size keeps its header
};

// The image a source holds.
struct Image {
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    std::uint64_t needs = 0;                        // the bytes the "Needs" line names
    m32::RowOrder order = m32::RowOrder::TopFirst;  // the order its rows can be read in, once
                                                    // the source is prepared
    std::optional<Report> note;                     // said once the output is in place
};

// Reads resolution templates, as every earlier file of the run that writes one has left it.
class Templates {
public:
    virtual ~Templates() = default;
    // Bytes 256 to 967 of the template of that name (as messages name it).
    virtual m32::TemplateRead read(const std::string& name, m32::TemplateBlock& block,
                                   platform::FileKey& key) = 0;
};

// What the rows of an image come from: a TGA file's pixels, or an M32 file's records.
class Source {
public:
    virtual ~Source() = default;
    // Reads what tells the image's size; `readable` is false where the input exists but is no
    // file that can be read.
    virtual std::optional<Report> read_size(bool readable, Templates& templates, Image& image) = 0;
    // Gets the rows ready to be read.
    virtual std::optional<Report> prepare(Image& image) = 0;
    // Image rows first to first + count - 1 as records, top row first.
    virtual std::optional<Report> read_rows(std::uint32_t first, std::uint32_t count,
                                            std::uint8_t* records) = 0;
    // Damage in what is left unread, reported before a failure on the output side.
    virtual std::optional<Report> find_damage() = 0;
};

// What makes the output file of the rows: an M32 file, or a TGA file.
class Sink {
public:
    // `bottom_first`: the file's rows are stored bottom row first. `existing`: what becomes of a
    // file that has the output's name.
    Sink(bool rows_bottom_first, platform::Existing existing_output)
        : bottom_first(rows_bottom_first), existing(existing_output) {}
    virtual ~Sink() = default;
    const bool bottom_first;
    const platform::Existing existing;

    // Reads what the output needs from elsewhere (a template, the header of the file it
    // replaces), once every earlier file that writes the output is done.
    virtual std::optional<Report> plan(Templates& templates, const platform::OutputPlace& place,
                                       const Image& image) = 0;
    // The bytes around the rows; or why the output is not to be written.
    virtual std::optional<Report> shape(const platform::OutputPlace& place, const Image& image,
                                        platform::OutputFile::Shape& shape) = 0;
    // Where records for a block of the file's rows are made, and how they become those rows;
    // null when the memory cannot be had.
    virtual std::uint8_t* records_for(const platform::Room& room) = 0;
    virtual void finish_rows(const std::uint8_t* records, const platform::Room& room,
                             std::uint16_t width) const = 0;
    // Why the output was not put in place where a file took its name meanwhile.
    virtual Report name_taken() const = 0;
    // True when the output is made of the image's resolution template too.
    virtual bool uses_template(const platform::OutputPlace& place, const Image& image) const = 0;
};

std::unique_ptr<Source> tga_source(const Job& job, platform::File& input, tga::Reader& reader);
std::unique_ptr<Source> m32_source(const Job& job, platform::File& input);
std::unique_ptr<Sink> m32_sink(const Job& job, bool keep_header);
std::unique_ptr<Sink> tga_sink(const Job& job, Buffer& staging);

class Conversion : public Templates {
public:
    Conversion(Workspace& workspace, const Job& job, Schedule& schedule, std::size_t index,
               const Print& print, const Choices& choices = {});

    // Converts the job's file, printing its progress lines as they come. Returns the failure
    // that ended it, if any; its message is left to the caller to print.
    std::optional<Report> run();
    // The steps over the direction's source and sink.
    std::optional<Report> convert(Source& source, Sink& sink);

    m32::TemplateRead read(const std::string& name, m32::TemplateBlock& block,
                           platform::FileKey& key) override;

private:
    std::optional<Report> write(Source& source, Sink& sink, const Image& image);
    std::optional<Report> open_output(const platform::OutputFile::Shape& shape);
    void stat_output();
    // True when the output is there and no older than anything it is made of.
    bool up_to_date(const Sink& sink, const Image& image);
    // The keys of a name as it was just opened.
    platform::NameKeys keys_of(const platform::Folder& folder, const std::string& name,
                               const platform::File& file, platform::File::Opened opened);
    // Opens the input once every earlier file of the run that writes it is done, having told the
    // schedule what this file uses.
    platform::File::Opened open_input();

    Workspace& workspace_;
    const Job& job_;
    Schedule& schedule_;
    std::size_t index_;
    const Print& print_;
    const Choices& choices_;
    platform::OutputPlace output_place_;
    // How many files of the run had ended when the output was looked at.
    std::uint64_t output_looked_ = 0;
    platform::File input_;
};

}  // namespace varnel::driver
