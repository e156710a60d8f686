// The command line: its options, and the names of what is to be converted.
#pragma once

#include <string>
#include <vector>

namespace varnel::driver {

// What the command line asks for. Only the exact spellings of the options are options; every
// other argument names a file or folder.
struct Options {
    enum class Show { Conversion, Help, Version };
    Show show = Show::Conversion;
    unsigned workers = 0;  // 0: one per processor
    bool to_tga = false;
    bool folders = false;
    bool keep_header = false;
    bool update = false;
    bool watch = false;
    std::vector<std::string> names;
};

Options parse_options(const std::vector<std::string>& arguments);

// The banner's title line.
std::string version_text();

std::string banner_text();

// The line that follows the banner when the program is started by a double click in Explorer:
// what it does with files dropped on it.
std::string drop_hint_text();

// The banner, then the options and how to convert many files.
std::string help_text();

}  // namespace varnel::driver
