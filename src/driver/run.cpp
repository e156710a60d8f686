#include "driver/run.hpp"

#include <algorithm>
#include <new>
#include <set>

#include "driver/batch.hpp"
#include "driver/messages.hpp"
#include "driver/options.hpp"
#include "driver/tree.hpp"
#include "driver/watch.hpp"
#include "platform/console.hpp"
#include "platform/folders.hpp"
#include "platform/names.hpp"

namespace varnel::driver {

namespace {

// Beyond this, more workers only wait for the disk.
constexpr unsigned kMostWorkers = 256;

unsigned workers_for(const Options& options) {
    return std::min({options.workers == 0 ? platform::processor_count() : options.workers,
                     kMostWorkers, platform::workers_within_file_limit()});
}

Direction direction_of(const Options& options) {
    return options.to_tga ? Direction::ToTga : Direction::ToM32;
}

Trigger trigger_of(const Options& options) {
    return options.update ? Trigger::OutOfDate : Trigger::Asked;
}

Choices choices_of(const Options& options) {
    return {options.keep_header};
}

// Files named as they are, in the current directory's settings. A problem that concerns every
// file is reported once, and nothing is converted; names before the first that is to be
// converted are answered before path.ini is read.
int convert_named_files(const Options& options, std::FILE* out) {
    const Direction direction = direction_of(options);
    const auto first =
        std::find_if(options.names.begin(), options.names.end(),
                     [&](const std::string& name) { return is_input_name(direction, name); });
    for (auto it = options.names.begin(); it != first; ++it) {
        print(out, message_text(Job::convert(direction, nullptr, *it).report()));
    }
    if (first == options.names.end()) {
        return 0;
    }
    const std::shared_ptr<const Settings> current = Settings::of_current_directory();
    if (const std::optional<Report>& failure = current->failure()) {
        print(out, message_text(*failure));
        return exit_status(failure->message);
    }
    Batch batch(workers_for(options), out, choices_of(options));
    for (auto it = first; it != options.names.end(); ++it) {
        batch.add(Job::convert(direction, current, *it, trigger_of(options)));
    }
    batch.drain();
    return batch.status();
}

// Folders walked whole (with -r, or dropped on the program), files dropped by their full names
// each in its own folder, and files named as they are in the current directory's settings.
int convert_folders(const Options& options, bool dropped, std::FILE* out) {
    const Direction direction = direction_of(options);
    Batch batch(workers_for(options), out, choices_of(options));
    Trees trees(direction, trigger_of(options), batch);
    DroppedFiles dropped_files(direction, trigger_of(options), batch);
    std::shared_ptr<const Settings> current;
    for (const std::string& typed : options.names) {
        // Dropped names are taken as Explorer hands them over, in their long form.
        const platform::ExactName name =
            dropped ? platform::exact_name(typed) : platform::ExactName{typed, typed};
        if (platform::is_folder(name.system)) {
            trees.walk(name.shown, name.system);
            continue;
        }
        // A folder named that is not there is missing, whatever its name holds.
        platform::FileState state;
        if (!platform::stat(platform::Folder::current(), name.system, state)) {
            batch.add(Job::line({Message::InputMissing, name.shown}));
            continue;
        }
        if (dropped) {
            dropped_files.add(name.shown, name.system);
            continue;
        }
        if (is_input_name(direction, typed) && !current) {
            current = Settings::of_current_directory();
            if (current->failure()) {
                batch.add(Job::line(*current->failure()));
            }
        }
        if (!is_input_name(direction, typed) || !current->failure()) {
            batch.add(Job::convert(direction, current, typed, trigger_of(options)));
        }
    }
    batch.drain();
    return batch.status();
}

}  // namespace

int report_out_of_memory(std::FILE* out) {
    const Report report = out_of_memory_report();
    print(out, message_text(report));
    return exit_status(report.message);
}

int run(const std::vector<std::string>& arguments, std::FILE* out) {
    try {
        const Options options = parse_options(arguments);
        switch (options.show) {
            case Options::Show::Help:
                print(out, help_text());
                return 0;
            case Options::Show::Version:
                print(out, version_text());
                return 0;
            case Options::Show::Conversion:
                break;
        }
        if (options.names.empty()) {
            print(out, banner_text());
            if (platform::started_from_explorer()) {
                print(out, drop_hint_text());
            }
            return 0;
        }
        // Explorer hands files dropped on the program over by their full names, and starts it in
        // a folder of its own choosing.
        const bool dropped =
            std::all_of(options.names.begin(), options.names.end(), platform::is_absolute) &&
            platform::started_from_explorer();
        if (options.watch) {
            return watch_folders(options, workers_for(options), out);
        }
        if (options.folders || dropped) {
            return convert_folders(options, dropped, out);
        }
        return convert_named_files(options, out);
    } catch (const std::bad_alloc&) {
        return report_out_of_memory(out);
    }
}

}  // namespace varnel::driver
