#include "driver/schedule.hpp"

namespace varnel::driver {

Schedule::Schedule(std::size_t files)
    : said_(files, false), read_template_(files, false), done_(files, false) {}

void Schedule::advance(std::size_t& leading, const std::vector<bool>& reached) {
    while (leading < reached.size() && reached[leading]) {
        ++leading;
    }
}

void Schedule::will_write(std::size_t file, const platform::NameKeys& output) {
    const std::lock_guard<std::mutex> lock(mutex_);
    writers_[output.folder_and_name].push_back(file);
    if (output.file) {
        writers_[*output.file].push_back(file);
    }
    said_[file] = true;
    advance(leading_said_, said_);
    changed_.notify_all();
}

bool Schedule::wait_for_earlier_writers(std::size_t file, const platform::NameKeys& keys) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return leading_said_ >= file; });
    const bool by_name = wait_for_writers_of(lock, file, keys.folder_and_name);
    const bool by_file = keys.file && wait_for_writers_of(lock, file, *keys.file);
    return by_name || by_file;
}

bool Schedule::wait_for_writers_of(std::unique_lock<std::mutex>& lock, std::size_t file,
                                   const platform::FileKey& key) {
    const auto writers = writers_.find(key);
    if (writers == writers_.end()) {
        return false;
    }
    bool waited = false;
    for (std::size_t i = 0; i < writers->second.size(); ++i) {
        const std::size_t earlier = writers->second[i];
        if (earlier < file) {
            changed_.wait(lock, [&] { return done_[earlier]; });
            waited = true;
        }
    }
    return waited;
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
