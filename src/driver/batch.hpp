// Converting many files in one run, several at a time.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "driver/conversion.hpp"
#include "driver/job.hpp"
#include "driver/schedule.hpp"

namespace varnel::driver {

// Jobs converted in the order they are added, up to `workers` at a time: by the thread that adds
// them, when it drains the batch or has added many, and by helpers started once more than one
// job waits. Each job's lines (a file's progress lines and its message, or the line printed in
// its place) come out together and in the order of the jobs, whatever order the work is done
// in: a job's lines wait until every job before it is done, and the lines of the first
// unfinished job are shown as they come. Before the first line of a job of a folder other than
// the one whose line was printed last comes that folder's line. Files that depend on each other
// keep their order (see schedule.hpp).
class Batch {
public:
    Batch(unsigned workers, std::FILE* out, const Choices& choices = {});
    ~Batch();
    Batch(const Batch&) = delete;
    Batch& operator=(const Batch&) = delete;

    void add(Job job);
    // Returns once every job added is done.
    void drain();
    // The status of the first job in order that failed, or 0.
    int status() const;

    // The lines of a saved file that read as damaged, kept aside instead of shown.
    struct Aside {
        std::string heading;
        std::string input;
        std::string text;
    };
    // Those kept aside since the last call.
    std::vector<Aside> take_aside();
    // Shows lines kept aside, after their folder's line where that is not the last one shown.
    void show_aside(const Aside& aside);

private:
    struct Entry {
        Job job;
        std::string held;  // lines not yet shown
        int status = 0;
        std::optional<Message> failure;
        bool shown = false;  // some of its lines
        bool done = false;
    };
    // Converts the first job not yet taken; false when there is none.
    bool convert_next(Workspace& workspace, std::unique_lock<std::mutex>& lock);
    void help();
    void print_line(std::size_t file, const std::string& text);
    // Shows text of the job, after its folder's line where that is not the last one shown.
    void show(const std::string& heading, bool& shown, const std::string& text);
    // The lines of a job that is done and first of those not yet shown.
    void finish_lines(Entry& entry);
    // Shows the jobs that are done, from the first not yet shown, and lets them go.
    void show_done();
    Entry& entry(std::size_t file);

    unsigned workers_;
    std::FILE* out_;
    Choices choices_;
    Schedule schedule_;
    Workspace workspace_;  // the adding thread's
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Entry> entries_;  // from the first job not yet done and shown
    std::size_t shown_ = 0;      // the number of the first of them
    std::size_t next_ = 0;       // the first job not yet taken
    std::string heading_;        // the folder whose line was shown last
    std::vector<Aside> aside_;
    int status_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> helpers_;
};

}  // namespace varnel::driver
