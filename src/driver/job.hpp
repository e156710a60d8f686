// The files of a run and what each is to become, what the conversions of one folder share, and
// what a worker keeps from one file to the next.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "driver/messages.hpp"
#include "driver/schedule.hpp"
#include "m32/m32_layout.hpp"
#include "platform/file.hpp"
#include "platform/output_file.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::driver {

// What the conversions of one folder share, read once for it: the current directory's for the
// names a run is given, each folder's own for the files of a folder.
struct Settings {
    std::string folder;          // where the names are looked up; empty: the current directory
    std::string prefix;          // the template prefix from path.ini
    bool has_directory = false;  // the folder's full path could be read
    std::string directory;       // its last component, for header names

    // A name of the folder as the system is to take it.
    std::string path(const std::string& name) const;
};

// Reads a folder's settings (the current directory's for an empty folder): its path.ini, and the
// last component of its full path. The failure that concerns every file of the folder, if any.
std::optional<Report> read_settings(const std::string& folder, Settings& settings);

// A file of the run, or a line said in its place.
struct Job {
    enum class Kind { ToM32, ToTga, Say };
    Kind kind = Kind::Say;
    const Settings* settings = nullptr;
    std::string input;   // the name the file is given by, as messages name it
    std::string output;  // its output's, made by the naming rule
    Report said{Message::NoTgaName};  // what a Say job says
};

// The job for a name to become an M32 file: one that holds "tga" or "TGA" (the test is
// case-sensitive); any other name says it is no TGA file.
Job to_m32_job(const Settings* settings, const std::string& name);
// The same for an M32 file to become a TGA file, "m32" or "M32" in its name.
Job to_tga_job(const Settings* settings, const std::string& name);
Job say(const Report& report);

using Print = std::function<void(const std::string& text)>;

// What a worker keeps from one file to the next: its reader's and output's memory, the templates
// it has read and the folder it last looked into.
struct Workspace {
    tga::Reader reader;
    platform::OutputFile output;
    m32::Templates templates;
    platform::FolderKeys folders;
    std::unique_ptr<std::uint8_t[]> rows;  // M32 records on their way to a TGA file
};

// One file's conversion and what it works with.
struct Conversion {
    Workspace& workspace;
    const Job& job;
    Schedule& schedule;
    std::size_t index;
    const Print& print;
    platform::OutputPlace place;  // what the output's name stands for
    platform::File input;

    const Settings& settings() const;
    // The steps every conversion begins with: the output looked at, both files said to the
    // schedule, the input opened as it is once every earlier file of the run that writes it is
    // done, and the "Processing" line, which a missing input does not get.
    std::optional<Report> begin(platform::File::Opened& opened);
    // An earlier file of the run that writes the same output is done with it first.
    void wait_for_earlier_writers_of_the_output();
    // An earlier file of the run that reads the output as its input is done with it first.
    void wait_for_earlier_readers_of_the_output();
    // Looks at a file (a template) once every earlier file of the run that writes it is done;
    // false when there is none.
    bool look_at_when_written(const std::string& path, platform::FileState& seen);
    // The new output file, in place of the output.
    std::optional<Report> open_output(const platform::OutputFile::Shape& shape);
};

// The new output's memory and file are gone whatever path a conversion leaves by.
struct DiscardUnfinished {
    platform::OutputFile& output;
    ~DiscardUnfinished() {
        output.discard();
    }
};

}  // namespace varnel::driver
