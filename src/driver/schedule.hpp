// The order that files converted at the same time keep with each other, so that a run over many
// files ends as if they had been converted one after another: a file that reads or replaces what
// an earlier file writes waits for it, and one that replaces what an earlier file reads waits
// until that file has read it.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/file.hpp"

namespace varnel::driver {

class Schedule {
public:
    // File `file` is handed out; files are handed out in their order.
    void begin(std::size_t file);
    // The files that file `file` writes and reads, said before it waits for anything.
    void will_use(std::size_t file, const platform::NameKeys& output,
                  const platform::NameKeys& input);
    // How many files have ended so far, to be taken just before a look at a file.
    std::uint64_t ended();
    // Waits until every earlier file that writes what `keys` stand for is done. True when what
    // the name stands for may have changed since a look taken when `ended` files had ended: there
    // was such a file to wait for, or a file has ended since the look, which it may have taken
    // before that file put its output in place, or while it did.
    bool wait_for_earlier_writers(std::size_t file, const platform::NameKeys& keys,
                                  std::uint64_t ended);
    // Waits until every earlier file that reads what `keys` stand for is done.
    void wait_for_earlier_readers(std::size_t file, const platform::NameKeys& keys);
    // File `file` has read its template, or will read none.
    void template_read(std::size_t file);
    // Waits until every earlier file has read its template.
    void wait_for_earlier_templates(std::size_t file);
    // True while a file before `file` has not ended.
    bool earlier_unfinished(std::size_t file);
    // File `file` has ended, however it ended.
    void done(std::size_t file);

private:
    // A file handed out and not yet done; only these can keep a later file waiting.
    struct Begun {
        std::size_t file;
        bool said = false;
        bool read_template = false;
        platform::NameKeys output;
        platform::NameKeys input;
    };
    Begun* find(std::size_t file);
    // Waits, the lock held, until the earlier files have said what they use, and then until
    // those for which `uses(begun)` stands for what `keys` stand for are done.
    template <typename Uses>
    bool wait_for_earlier(std::unique_lock<std::mutex>& lock, std::size_t file, Uses&& uses);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Begun> begun_;  // in the order of the files
    std::uint64_t ended_ = 0;
};

}  // namespace varnel::driver
