#include "driver/schedule.hpp"

#include <algorithm>

namespace varnel::driver {

namespace {

// Two names stand for one file where either key is the same: the file's own key matches
// whatever the spelling; the folder's and the name's also before the file exists and while it is
// being replaced, when the file's own key comes and goes.
bool same_file(const platform::NameKeys& a, const platform::NameKeys& b) {
    return a.folder_and_name == b.folder_and_name || (a.file && b.file && *a.file == *b.file);
}

}  // namespace

Schedule::Begun* Schedule::find(std::size_t file) {
    const auto found =
        std::find_if(begun_.begin(), begun_.end(), [&](const Begun& b) { return b.file == file; });
    return found == begun_.end() ? nullptr : &*found;
}

void Schedule::begin(std::size_t file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Begun begun;
    begun.file = file;
    begun_.push_back(begun);
}

void Schedule::will_use(std::size_t file, const platform::NameKeys& output,
                        const platform::NameKeys& input) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (Begun* b = find(file)) {
        b->output = output;
        b->input = input;
        b->said = true;
    }
    changed_.notify_all();
}

template <typename Uses>
bool Schedule::wait_for_earlier(std::unique_lock<std::mutex>& lock, std::size_t file, Uses&& uses) {
    changed_.wait(lock, [&] {
        return std::all_of(begun_.begin(), begun_.end(),
                           [&](const Begun& b) { return b.file >= file || b.said; });
    });
    bool waited = false;
    for (;;) {
        const auto earlier = std::find_if(begun_.begin(), begun_.end(),
                                          [&](const Begun& b) { return b.file < file && uses(b); });
        if (earlier == begun_.end()) {
            return waited;
        }
        const std::size_t other = earlier->file;
        changed_.wait(lock, [&] { return find(other) == nullptr; });
        waited = true;
    }
}

std::uint64_t Schedule::ended() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}

bool Schedule::wait_for_earlier_writers(std::size_t file, const platform::NameKeys& keys,
                                        std::uint64_t ended) {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool waited =
        wait_for_earlier(lock, file, [&](const Begun& b) { return same_file(b.output, keys); });
    return waited || ended_ != ended;
}

void Schedule::wait_for_earlier_readers(std::size_t file, const platform::NameKeys& keys) {
    std::unique_lock<std::mutex> lock(mutex_);
    wait_for_earlier(lock, file, [&](const Begun& b) { return same_file(b.input, keys); });
}

void Schedule::template_read(std::size_t file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (Begun* b = find(file)) {
        b->read_template = true;
    }
    changed_.notify_all();
}

void Schedule::wait_for_earlier_templates(std::size_t file) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] {
        return std::all_of(begun_.begin(), begun_.end(),
                           [&](const Begun& b) { return b.file >= file || b.read_template; });
    });
}

bool Schedule::earlier_unfinished(std::size_t file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(begun_.begin(), begun_.end(), [&](const Begun& b) { return b.file < file; });
}

void Schedule::done(std::size_t file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    begun_.erase(std::remove_if(begun_.begin(), begun_.end(),
                                [&](const Begun& b) { return b.file == file; }),
                 begun_.end());
    ++ended_;
    changed_.notify_all();
}

}  // namespace varnel::driver
