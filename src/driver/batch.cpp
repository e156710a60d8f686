#include "driver/batch.hpp"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

#include "driver/convert.hpp"
#include "driver/messages.hpp"
#include "driver/schedule.hpp"
#include "driver/to_tga.hpp"

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

// The file is done in the schedule however its conversion ends.
struct Ended {
    Schedule& schedule;
    std::size_t file;
    ~Ended() {
        schedule.done(file);
    }
};

// The status the file ends with, its message printed.
int convert_one(Workspace& workspace, const Job& job, Schedule& schedule, std::size_t file,
                Lines& lines) {
    int status = 0;
    try {
        const Ended ended{schedule, file};
        const Print print = [&](const std::string& text) { add_line(lines, file, text); };
        Conversion conversion{workspace, job, schedule, file, print, {}, {}};
        std::optional<Report> failure;
        switch (job.kind) {
            case Job::Kind::ToM32:
                failure = convert_to_m32(conversion);
                break;
            case Job::Kind::ToTga:
                failure = convert_to_tga(conversion);
                break;
            case Job::Kind::Say:
                failure = job.said;
                break;
        }
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

}  // namespace

int convert_all(const std::vector<Job>& jobs, unsigned workers, std::FILE* out) {
    if (jobs.empty()) {
        return 0;
    }
    Lines lines;
    lines.out = out;
    lines.held.resize(jobs.size());
    lines.done.resize(jobs.size());
    std::vector<int> statuses(jobs.size());
    Schedule schedule(jobs.size());
    // Files are begun in their order, as the schedule needs.
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        Workspace workspace;
        for (std::size_t file; (file = next++) < jobs.size();) {
            statuses[file] = convert_one(workspace, jobs[file], schedule, file, lines);
        }
    };
    const std::size_t helpers = std::min<std::size_t>(workers, jobs.size()) - 1;
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
