// The conversion of one TGA file, from its name to the M32 file beside it.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

#include "driver/messages.hpp"
#include "driver/schedule.hpp"
#include "m32/m32_layout.hpp"
#include "m32/writer.hpp"
#include "platform/file.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::driver {

// What every conversion of a run shares, read once at its start.
struct Settings {
    std::string prefix;          // the template prefix from path.ini
    bool has_directory = false;  // the current directory could be read
    std::string directory;       // its last component, for header names
};

// A file of the run: the name it was given, and its output's name where that name is one of a
// TGA file (it holds "tga" or "TGA"; the test is case-sensitive).
struct Job {
    std::string input;
    std::string output;  // empty: not a TGA file's name
};

Job job_for(const std::string& name);

using Print = std::function<void(const std::string& text)>;

// What a worker keeps from one file to the next: its reader's and writer's memory, the templates
// it has read and the folder it last looked into.
struct Workspace {
    tga::Reader reader;
    m32::Writer writer;
    m32::Templates templates;
    platform::FolderKeys folders;
};

// Converts the job's file as file `index` of `schedule`, printing its progress lines through
// `print` as they come. Returns the failure that ended it, if any; its message is left to the
// caller to print.
std::optional<Report> convert_file(const Settings& settings, Workspace& workspace, const Job& job,
                                   Schedule& schedule, std::size_t index, const Print& print);

}  // namespace varnel::driver
