// The order that files converted at the same time keep with each other, so that a run over many
// files ends as if they had been converted one after another: a file that reads or replaces what
// an earlier file writes waits for it, and one that replaces what an earlier file may read as its
// template waits until that file has read it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <map>
#include <mutex>
#include <vector>

#include "platform/file.hpp"

namespace varnel::driver {

class Schedule {
public:
    explicit Schedule(std::size_t files);

    // The files that file `file` writes and reads. Files are begun in their order and say this
    // first.
    void will_use(std::size_t file, const platform::NameKeys& output,
                  const platform::NameKeys& input);
    // Waits until every earlier file that writes what `keys` stand for is done. True when there
    // was one: what the name stands for may have changed.
    bool wait_for_earlier_writers(std::size_t file, const platform::NameKeys& keys);
    // Waits until every earlier file that reads what `keys` stand for is done.
    void wait_for_earlier_readers(std::size_t file, const platform::NameKeys& keys);
    // File `file` has read its template, or will read none.
    void template_read(std::size_t file);
    // Waits until every earlier file has read its template.
    void wait_for_earlier_templates(std::size_t file);
    // File `file` has ended, however it ended.
    void done(std::size_t file);

private:
    // Advances a count of leading files while they have `reached` it.
    static void advance(std::size_t& leading, const std::vector<bool>& reached);
    using Users = std::map<platform::FileKey, std::vector<std::size_t>>;
    static void add(Users& users, const platform::NameKeys& keys, std::size_t file);
    // Waits, the lock held by `lock`, until the files before `file` have said what they use and
    // the earlier `users` of what `keys` stand for are done; true when there were such.
    bool wait_for_earlier(std::unique_lock<std::mutex>& lock, const Users& users,
                          std::size_t file, const platform::NameKeys& keys);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> said_;
    std::vector<bool> read_template_;
    std::vector<bool> done_;
    std::size_t leading_said_ = 0;
    std::size_t leading_read_ = 0;
    Users writers_;
    Users readers_;
};

}  // namespace varnel::driver
