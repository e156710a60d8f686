// The conversion of one TGA file, from its name to the M32 file beside it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "driver/messages.hpp"
#include "m32/writer.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::driver {

// What every conversion of a run shares, read once at its start.
struct Settings {
    std::string prefix;          // the template prefix from path.ini
    bool has_directory = false;  // the current directory could be read
    std::string directory;       // its last component, for header names
};

using Print = std::function<void(const std::string& text)>;

// A reader and a writer that convert one file after another, keeping their memory in between.
struct Workspace {
    tga::Reader reader;
    m32::Writer writer;
};

// The names varnel converts hold "tga" or "TGA" somewhere; the test is case-sensitive.
bool names_a_tga(const std::string& name);

// Converts the named file, printing its progress lines through `print` as they come. Returns
// the failure that ended it, if any; its message is left to the caller to print.
std::optional<Report> convert_file(const Settings& settings, Workspace& workspace,
                                   const std::string& input_name, const Print& print);

}  // namespace varnel::driver
