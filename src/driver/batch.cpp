#include "driver/batch.hpp"

#include <new>

#include "driver/messages.hpp"
#include "platform/interruptions.hpp"

namespace varnel::driver {

Batch::Batch(unsigned workers, std::FILE* out, const Choices& choices)
    : workers_(workers), out_(out), choices_(choices) {}

Batch::~Batch() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& helper : helpers_) {
        helper.join();
    }
}

Batch::Entry& Batch::entry(std::size_t file) {
    return entries_[file - shown_];
}

void Batch::show(const std::string& heading, bool& shown, const std::string& text) {
    if (!shown && !heading.empty() && heading != heading_) {
        print(out_, message_text({Message::InFolder, heading}));
        heading_ = heading;
    }
    shown = true;
    print(out_, text);
}

// A saved file's lines come out whole once it is done, so that those of one that reads as
// damaged, which its writer may not be done with, can be kept aside.
void Batch::print_line(std::size_t file, const std::string& text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = entry(file);
    if (file == shown_ && !e.job.holds_its_lines()) {
        show(e.job.heading(), e.shown, text);
    } else {
        e.held += text;
    }
}

void Batch::finish_lines(Entry& e) {
    if (e.held.empty()) {
        return;
    }
    if (e.job.holds_its_lines() && e.failure && is_about_the_input(*e.failure)) {
        aside_.push_back({e.job.heading(), e.job.input(), e.held});
    } else {
        show(e.job.heading(), e.shown, e.held);
    }
    e.held.clear();
}

std::vector<Batch::Aside> Batch::take_aside() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::move(aside_);
}

void Batch::show_aside(const Aside& aside) {
    const std::lock_guard<std::mutex> lock(mutex_);
    bool shown = false;
    show(aside.heading, shown, aside.text);
}

bool Batch::convert_next(Workspace& workspace, std::unique_lock<std::mutex>& lock) {
    if (next_ == shown_ + entries_.size()) {
        return false;
    }
    // Files are begun in their order, as the schedule needs.
    const std::size_t file = next_++;
    const Job& job = entry(file).job;
    // Out of memory, a file that is begun nowhere is done at once: it must not be waited for.
    bool begun = false;
    try {
        schedule_.begin(file);
        begun = true;
    } catch (const std::bad_alloc&) {
    }
    lock.unlock();
    const Print lines = [&](const std::string& text) { print_line(file, text); };
    int status = 0;
    std::optional<Message> failed;
    try {
        if (!begun) {
            throw std::bad_alloc();
        }
        std::optional<Report> failure = job.report();
        if (platform::stop_requested()) {
            // The program is stopping: the conversion under way ends whole, no other begins.
            failure.reset();
        } else if (job.converts()) {
            failure = Conversion(workspace, job, schedule_, file, lines, choices_).run();
        }
        if (failure) {
            status = exit_status(failure->message);
            failed = failure->message;
            lines(message_text(*failure));
        }
    } catch (const std::bad_alloc&) {
        // Whatever was being made has been undone on the way here, its new file removed.
        const Report report = out_of_memory_report();
        status = exit_status(report.message);
        try {
            lines(message_text(report));
        } catch (const std::bad_alloc&) {
            // Not even the message could be held; the status still says it.
        }
    }
    schedule_.done(file);
    lock.lock();
    entry(file).status = status;
    entry(file).failure = failed;
    entry(file).done = true;
    try {
        show_done();
    } catch (const std::bad_alloc&) {
        // Lines that could not be held are lost; the statuses still say how the files ended.
    }
    changed_.notify_all();
    return true;
}

void Batch::show_done() {
    while (!entries_.empty() && entries_.front().done) {
        finish_lines(entries_.front());
        status_ = status_ != 0 ? status_ : entries_.front().status;
        entries_.pop_front();
        ++shown_;
        if (entries_.empty()) {
            break;
        }
        Entry& next = entries_.front();
        if (!next.held.empty() && !next.job.holds_its_lines()) {
            show(next.job.heading(), next.shown, next.held);
            next.held.clear();
        }
    }
}

void Batch::help() {
    Workspace workspace;
    std::unique_lock<std::mutex> lock(mutex_);
    while (convert_next(workspace, lock) || !stopping_) {
        changed_.wait(lock, [&] { return stopping_ || next_ < shown_ + entries_.size(); });
    }
}

void Batch::add(Job job) {
    std::unique_lock<std::mutex> lock(mutex_);
    Entry added{std::move(job), {}, 0, std::nullopt, false, false};
    entries_.push_back(std::move(added));
    const std::size_t waiting = shown_ + entries_.size() - next_;
    if (waiting > 1 && helpers_.size() + 1 < workers_) {
        try {
            helpers_.emplace_back([this] { help(); });
        } catch (const std::exception&) {
            // Fewer workers than asked for: the ones there are do all the work.
        }
    }
    changed_.notify_all();
    // The jobs ahead do not grow without bound: the adding thread takes its share.
    if (waiting > 2 * std::size_t{workers_}) {
        convert_next(workspace_, lock);
    }
}

void Batch::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (convert_next(workspace_, lock)) {
    }
    changed_.wait(lock, [&] { return entries_.empty(); });
}

int Batch::status() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

}  // namespace varnel::driver
