#include "driver/run.hpp"

#include <algorithm>
#include <new>

#include "driver/batch.hpp"
#include "driver/convert.hpp"
#include "driver/messages.hpp"
#include "driver/path_ini.hpp"
#include "m32/naming.hpp"
#include "platform/console.hpp"
#include "platform/folders.hpp"
#include "platform/names.hpp"

namespace varnel::driver {

namespace {

// Beyond this, more workers only wait for the disk.
constexpr unsigned kMostWorkers = 256;

// Only these exact arguments are options; every other one names a file.
struct Options {
    enum class Show { Nothing, Help, Version } show = Show::Nothing;
    unsigned workers = 0;  // 0: one per processor
    std::vector<std::string> files;
};

bool is_help(const std::string& argument) {
#ifdef _WIN32
    if (argument == "/?") {
        return true;
    }
#endif
    return argument == "-h" || argument == "--help";
}

// A number of workers: 1 to 9999.
bool is_count(const std::string& text) {
    return !text.empty() && text.size() <= 4 &&
           text.find_first_not_of("0123456789") == std::string::npos &&
           text.find_first_not_of('0') != std::string::npos;
}

Options parse(const std::vector<std::string>& arguments) {
    Options options;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (options.show == Options::Show::Nothing && is_help(argument)) {
            options.show = Options::Show::Help;
        } else if (options.show == Options::Show::Nothing && argument == "--version") {
            options.show = Options::Show::Version;
        } else if (argument == "-j" && i + 1 < arguments.size() && is_count(arguments[i + 1])) {
            options.workers = static_cast<unsigned>(std::stoul(arguments[++i]));
        } else if (!is_help(argument) && argument != "--version") {
            for (std::string& name : platform::expand_pattern(argument)) {
                options.files.push_back(std::move(name));
            }
        }
    }
    return options;
}

// path.ini and the current directory: what every conversion of the run shares.
std::optional<Report> read_settings(Settings& settings) {
    if (!read_template_prefix(settings.prefix)) {
        return Report{Message::NoPathIni, {}, {}};
    }
    std::string directory;
    settings.has_directory = platform::current_directory(directory);
    if (settings.has_directory) {
        settings.directory =
            m32::last_directory_component(directory, platform::kDirectorySeparator);
    }
    return std::nullopt;
}

int convert_files(const Options& options, std::FILE* out) {
    std::vector<Job> jobs;
    for (const std::string& name : options.files) {
        jobs.push_back(job_for(name));
    }
    // Names before the first TGA name are answered before path.ini is read, as for a single name.
    const auto first_tga =
        std::find_if(jobs.begin(), jobs.end(), [](const Job& job) { return !job.output.empty(); });
    for (auto it = jobs.begin(); it != first_tga; ++it) {
        print(out, message_text({Message::NoTgaName, {}, {}}));
    }
    if (first_tga == jobs.end()) {
        return 0;
    }
    // A problem that concerns every file is reported once, and nothing is converted.
    Settings settings;
    if (const std::optional<Report> failure = read_settings(settings)) {
        print(out, message_text(*failure));
        return exit_status(failure->message);
    }
    const unsigned workers =
        std::min({options.workers == 0 ? platform::processor_count() : options.workers,
                  kMostWorkers, platform::workers_within_file_limit()});
    return convert_all(settings, {first_tga, jobs.end()}, workers, out);
}

}  // namespace

int report_out_of_memory(std::FILE* out) {
    const Report report = out_of_memory_report();
    print(out, message_text(report));
    return exit_status(report.message);
}

int run(const std::vector<std::string>& arguments, std::FILE* out) {
    try {
        const Options options = parse(arguments);
        switch (options.show) {
            case Options::Show::Help:
                print(out, help_text());
                return 0;
            case Options::Show::Version:
                print(out, version_text());
                return 0;
            case Options::Show::Nothing:
                break;
        }
        if (options.files.empty()) {
            print(out, banner_text());
            return 0;
        }
        return convert_files(options, out);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory(out);
    }
}

}  // namespace varnel::driver
