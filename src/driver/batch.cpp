#include "driver/batch.hpp"

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "driver/messages.hpp"
#include "m32/naming.hpp"
#include "platform/platform.hpp"

namespace varnel::driver {

namespace {

// What the files have printed, put out in the order of the names: a file's lines wait until
// every file before it is done, and then its lines are shown as they come.
struct Lines {
    std::FILE* out;
    std::mutex mutex;
    std::vector<std::string> held;  // per file, what is not yet shown
    std::vector<bool> done;
    std::size_t shown = 0;  // files before this one are done and shown whole
};

void add_line(Lines& lines, std::size_t file, const std::string& text) {
    const std::lock_guard<std::mutex> lock(lines.mutex);
    if (file == lines.shown) {
        print(lines.out, text);
    } else {
        lines.held[file] += text;
    }
}

void end_file(Lines& lines, std::size_t file) {
    const std::lock_guard<std::mutex> lock(lines.mutex);
    lines.done[file] = true;
    while (lines.shown < lines.done.size() && lines.done[lines.shown]) {
        ++lines.shown;
        if (lines.shown < lines.done.size() && !lines.held[lines.shown].empty()) {
            print(lines.out, lines.held[lines.shown]);
            lines.held[lines.shown].clear();
        }
    }
}

// The status the file ends with, its message printed.
int convert_one(const Settings& settings, Workspace& workspace, const std::string& name,
                std::size_t file, Lines& lines) {
    int status = 0;
    try {
        const std::optional<Report> failure =
            names_a_tga(name)
                ? convert_file(settings, workspace, name,
                               [&](const std::string& text) { add_line(lines, file, text); })
                : Report{Message::NoTgaName, {}, {}};
        if (failure) {
            status = exit_status(failure->message);
            add_line(lines, file, message_text(*failure));
        }
    } catch (const std::bad_alloc&) {
        // Whatever was being made has been undone on the way here, its new file removed.
        const Report report = out_of_memory_report();
        status = exit_status(report.message);
        try {
            add_line(lines, file, message_text(report));
        } catch (const std::bad_alloc&) {
            // Not even the message could be held; the status still says it.
        }
    }
    end_file(lines, file);
    return status;
}

// The files in groups that write the same output, each group in the order of the names; the
// groups in the order of their first names.
std::vector<std::vector<std::size_t>> groups_by_output(const std::vector<std::string>& names) {
    std::vector<std::vector<std::size_t>> groups;
    std::map<std::string, std::size_t> group_of_output;
    for (std::size_t file = 0; file < names.size(); ++file) {
        if (!names_a_tga(names[file])) {
            groups.push_back({file});
            continue;
        }
        const std::string output = platform::comparable_path(m32::output_name(names[file]));
        const auto [at, added] = group_of_output.emplace(output, groups.size());
        if (added) {
            groups.emplace_back();
        }
        groups[at->second].push_back(file);
    }
    return groups;
}

}  // namespace

int convert_all(const Settings& settings, const std::vector<std::string>& names, unsigned workers,
                std::FILE* out) {
    Lines lines;
    lines.out = out;
    lines.held.resize(names.size());
    lines.done.resize(names.size());
    std::vector<int> statuses(names.size());
    const std::vector<std::vector<std::size_t>> groups = groups_by_output(names);
    std::atomic<std::size_t> next_group{0};
    const auto work = [&] {
        Workspace workspace;
        for (std::size_t g; (g = next_group++) < groups.size();) {
            for (const std::size_t file : groups[g]) {
                statuses[file] = convert_one(settings, workspace, names[file], file, lines);
            }
        }
    };
    const std::size_t helpers = std::min<std::size_t>(workers, groups.size()) - 1;
    std::vector<std::thread> threads;
    try {
        threads.reserve(helpers);
        for (std::size_t i = 0; i < helpers; ++i) {
            threads.emplace_back(work);
        }
    } catch (const std::exception&) {
        // Fewer workers than asked for: the ones there are do all the work.
    }
    work();
    for (std::thread& thread : threads) {
        thread.join();
    }
    const auto failed =
        std::find_if(statuses.begin(), statuses.end(), [](int status) { return status != 0; });
    return failed == statuses.end() ? 0 : *failed;
}

}  // namespace varnel::driver
