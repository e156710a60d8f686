#include "driver/run.hpp"

#include <algorithm>
#include <new>

#include "driver/batch.hpp"
#include "driver/messages.hpp"
#include "driver/tree.hpp"
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
    bool to_tga = false;
    bool folders = false;
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

bool is_flag(const std::string& argument) {
    return is_help(argument) || argument == "--version" || argument == "--to-tga" ||
           argument == "-r";
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
        } else if (argument == "--to-tga" || argument == "-r") {
            (argument == "-r" ? options.folders : options.to_tga) = true;
        } else if (!is_flag(argument)) {
            for (std::string& name : platform::expand_pattern(argument)) {
                options.files.push_back(std::move(name));
            }
        }
    }
    return options;
}

unsigned workers_for(const Options& options) {
    return std::min({options.workers == 0 ? platform::processor_count() : options.workers,
                     kMostWorkers, platform::workers_within_file_limit()});
}

Job job_for(const Settings* settings, const std::string& name, bool to_tga) {
    return to_tga ? to_tga_job(settings, name) : to_m32_job(settings, name);
}

// Files named as they are, in the current directory's settings. A problem that concerns every
// file is reported once, and nothing is converted; names before the first that is to be
// converted are answered before path.ini is read.
int convert_named_files(const Options& options, std::FILE* out) {
    Settings settings;
    std::vector<Job> jobs;
    for (const std::string& name : options.files) {
        jobs.push_back(job_for(&settings, name, options.to_tga));
    }
    const auto first = std::find_if(jobs.begin(), jobs.end(),
                                    [](const Job& job) { return job.kind != Job::Kind::Say; });
    for (auto it = jobs.begin(); it != first; ++it) {
        print(out, message_text(it->said));
    }
    if (first == jobs.end()) {
        return 0;
    }
    if (const std::optional<Report> failure = read_settings({}, settings)) {
        print(out, message_text(*failure));
        return exit_status(failure->message);
    }
    return convert_all({first, jobs.end()}, workers_for(options), out);
}

// Folders walked whole (with -r, or dropped on the program), files dropped by their full names
// each in its own folder, and files named as they are in the current directory's settings.
int convert_folders(const Options& options, bool dropped, std::FILE* out) {
    FolderSettings folders;
    std::vector<Job> jobs;
    const Settings* current = nullptr;
    std::optional<Report> current_failed;
    DropFolder last;
    for (const std::string& name : options.files) {
        if (platform::is_folder(name)) {
            add_tree(name, options.to_tga && !dropped, folders, jobs);
            last = {};
            continue;
        }
        // A folder named that is not there is missing, whatever its name holds.
        platform::FileState state;
        if (!platform::look_at(name, state)) {
            jobs.push_back(say({Message::InputMissing, name}));
            continue;
        }
        if (dropped) {
            add_dropped_file(name, last, folders, jobs);
            continue;
        }
        Job job = job_for(current, name, options.to_tga);
        if (job.kind != Job::Kind::Say && current == nullptr) {
            Settings& settings = folders.emplace_back();
            current_failed = read_settings({}, settings);
            current = &settings;
            job.settings = current;
            if (current_failed) {
                jobs.push_back(say(*current_failed));
            }
        }
        if (job.kind == Job::Kind::Say || !current_failed) {
            jobs.push_back(job);
        }
    }
    return convert_all(jobs, workers_for(options), out);
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
        // Explorer hands files dropped on the program over by their full names, and starts it in
        // a folder of its own choosing.
        const bool dropped =
            std::all_of(options.files.begin(), options.files.end(), platform::is_absolute) &&
            platform::started_from_explorer();
        if (options.folders || dropped) {
            return convert_folders(options, dropped, out);
        }
        return convert_named_files(options, out);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory(out);
    }
}

}  // namespace varnel::driver
