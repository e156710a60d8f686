#include "driver/schedule.hpp"

namespace varnel::driver {

Schedule::Schedule(std::size_t files)
    : said_(files, false), read_template_(files, false), done_(files, false) {}

void Schedule::advance(std::size_t& leading, const std::vector<bool>& reached) {
    while (leading < reached.size() && reached[leading]) {
        ++leading;
    }
}

void Schedule::add(Users& users, const platform::NameKeys& keys, std::size_t file) {
    users[keys.folder_and_name].push_back(file);
    if (keys.file) {
        users[*keys.file].push_back(file);
    }
}

void Schedule::will_use(std::size_t file, const platform::NameKeys& output,
                        const platform::NameKeys& input) {
    const std::lock_guard<std::mutex> lock(mutex_);
    add(writers_, output, file);
    add(readers_, input, file);
    said_[file] = true;
    advance(leading_said_, said_);
    changed_.notify_all();
}

bool Schedule::wait_for_earlier(std::unique_lock<std::mutex>& lock, const Users& users,
                                std::size_t file, const platform::NameKeys& keys) {
    changed_.wait(lock, [&] { return leading_said_ >= file; });
    bool waited = false;
    for (const platform::FileKey* key : {&keys.folder_and_name, keys.file ? &*keys.file : nullptr}) {
        const auto found = key == nullptr ? users.end() : users.find(*key);
        // The list may grow while the lock is let go, but only by later files.
        for (std::size_t i = 0; found != users.end() && i < found->second.size(); ++i) {
            const std::size_t earlier = found->second[i];
            if (earlier < file) {
                changed_.wait(lock, [&] { return done_[earlier]; });
                waited = true;
            }
        }
    }
    return waited;
}

bool Schedule::wait_for_earlier_writers(std::size_t file, const platform::NameKeys& keys) {
    std::unique_lock<std::mutex> lock(mutex_);
    return wait_for_earlier(lock, writers_, file, keys);
}

void Schedule::wait_for_earlier_readers(std::size_t file, const platform::NameKeys& keys) {
    std::unique_lock<std::mutex> lock(mutex_);
    wait_for_earlier(lock, readers_, file, keys);
}

void Schedule::template_read(std::size_t file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    read_template_[file] = true;
    advance(leading_read_, read_template_);
    changed_.notify_all();
}

void Schedule::wait_for_earlier_templates(std::size_t file) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return leading_read_ >= file; });
}

void Schedule::done(std::size_t file) {
    const std::lock_guard<std::mutex> lock(mutex_);
    said_[file] = read_template_[file] = done_[file] = true;
    advance(leading_said_, said_);
    advance(leading_read_, read_template_);
    changed_.notify_all();
}

}  // namespace varnel::driver
