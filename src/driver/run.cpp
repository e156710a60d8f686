#include "driver/run.hpp"

#include "driver/convert.hpp"
#include "driver/messages.hpp"
#include "driver/path_ini.hpp"
#include "m32/naming.hpp"
#include "platform/platform.hpp"

namespace varnel::driver {

namespace {

thread_local std::size_t t_failed_allocation = 0;

Report out_of_memory() {
    return {Message::OutOfMemory, std::to_string(t_failed_allocation), {}};
}

bool names_a_tga(const std::string& name) {
    return name.find("tga") != std::string::npos || name.find("TGA") != std::string::npos;
}

// path.ini and the current directory: what every conversion of the run shares.
std::optional<Report> read_settings(Settings& settings) {
    std::uint64_t bytes = 0;
    switch (read_template_prefix(settings.prefix, bytes)) {
        case PathIniRead::Ok:
            break;
        case PathIniRead::Missing:
            return Report{Message::NoPathIni, {}, {}};
        case PathIniRead::OutOfMemory:
            return Report{Message::OutOfMemory, std::to_string(bytes), {}};
    }
    std::string directory;
    settings.has_directory = platform::current_directory(directory);
    if (settings.has_directory) {
        settings.directory =
            m32::last_directory_component(directory, platform::kDirectorySeparator);
    }
    return std::nullopt;
}

}  // namespace

void note_failed_allocation(std::size_t bytes) {
    t_failed_allocation = bytes;
}

int report_out_of_memory(std::FILE* out) {
    const Report report = out_of_memory();
    print(out, message_text(report));
    return exit_status(report.message);
}

int run(const std::vector<std::string>& arguments, std::FILE* out) {
    if (arguments.empty()) {
        print(out, banner_text());
        return 0;
    }
    const std::string& input_name = arguments.front();
    std::optional<Report> failure;
    try {
        Settings settings;
        if (!names_a_tga(input_name)) {
            failure = Report{Message::NoTgaName, {}, {}};
        } else if (!(failure = read_settings(settings))) {
            failure = convert_file(settings, input_name,
                                   [out](const std::string& text) { print(out, text); });
        }
    } catch (const std::bad_alloc&) {
        // Whatever was being made has been undone on the way here, its new file removed.
        return report_out_of_memory(out);
    }
    if (!failure) {
        return 0;
    }
    print(out, message_text(*failure));
    return exit_status(failure->message);
}

}  // namespace varnel::driver
