// Replacing an output whole. The new file is made beside the output under a name no other program
// uses, tracked for interruptions from the moment it exists, given the access it will keep before
// anything is written to it, changed only through its handle, and put in place by one rename once
// it is complete; until then the output name keeps what it held.
#pragma once

#include <cstdint>
#include <random>
#include <string>

#include "platform/file.hpp"
#include "platform/interruptions.hpp"
#include "platform/names.hpp"

namespace varnel::platform {

// What an output name stands for, looked at once before the output is made.
struct OutputPlace {
    enum class State {
        Missing,      // no file has the name: the output will be a new file
        Replaceable,  // a regular file that may be written
        Refused,      // a folder or other non-file, a read-only file, a link not to be followed
    };
    State state = State::Missing;
    const Folder* folder = nullptr;  // where `target` is taken
    std::string target;  // where the output goes: the name, or the file at the end of its links
    NameKeys keys;       // the file it replaces, where known, and the folder and name it will have
    Access access;       // what the output keeps of the file it replaces
    std::uint64_t size = 0;     // of the file it replaces
    std::int64_t modified = 0;  // when that file last changed, as FileState counts
};

// A link is followed only where the system would follow it for this process: not from a folder
// that everyone may write to and that is sticky, unless the process or the folder's owner owns
// the link.
OutputPlace stat_output(const Folder& folder, const std::string& name, FolderKeys& folders);

// What becomes of a file that has the output's name when the new file is put in place.
enum class Existing { Replace, Keep };

enum class Put {
    Done,
    Failed,     // the new file is gone; one whose name was taken over is left to its taker
    NameTaken,  // (Existing::Keep) a file of the output's name exists
};

// One output at a time; the same object makes one after another.
class Replacement {
public:
    Replacement();
    ~Replacement();
    Replacement(const Replacement&) = delete;
    Replacement& operator=(const Replacement&) = delete;

    // Makes the new file for the place and gives it the access the output keeps. False when it
    // cannot be made.
    bool begin(const OutputPlace& place);
    const File& file() const;
    // Puts the complete file in place: over the output, or only while no file has the output's
    // name.
    Put finish(Existing existing);
    // Closes and removes the new file; the output is untouched.
    void abandon();

private:
#ifdef _WIN32
    bool copy_into_place(const SystemName& target);
#endif

    UnfinishedFile tracking_;
    std::mt19937_64 random_;
    const Folder* folder_ = &Folder::current();
    std::string target_;
    std::string temporary_;
    SystemName system_temporary_;
    File file_;
    bool replaces_existing_ = false;
    Access access_;  // what the output keeps of the file it replaces
};

}  // namespace varnel::platform
