// Files read and written at offsets in large pieces with the system's own calls, so that speed does
// not depend on a C++ library's stream buffering.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "platform/names.hpp"

namespace varnel::platform {

// Which file a name stands for: the device and file number of an existing file, however the name
// is spelled; or those of its folder and the name in it.
struct FileKey {
    std::uint64_t device = 0;
    std::uint64_t number = 0;
    std::string name;  // empty for an existing file
    bool operator==(const FileKey& other) const;
    bool operator<(const FileKey& other) const;
};

// Both keys of a name. Two names stand for one file where either is the same: the file's own key
// matches whatever the spelling; the folder's and the name's also before the file exists and
// while it is being replaced, when the file's own key comes and goes.
struct NameKeys {
    std::optional<FileKey> file;  // none where the name holds no file, or none that could be known
    FileKey folder_and_name;
};

// A file as it is at one moment: which file it is, how long, and when it last changed.
struct FileState {
    FileKey key;
    std::uint64_t size = 0;
    std::int64_t modified = 0;  // nanoseconds, or whatever steps the system counts in
    bool operator==(const FileState& other) const;
};

// A folder that names are taken in: the current directory, or a folder opened by its handle,
// whose names are reached however deep it lies, since no path to it is spelled out.
class Folder {
public:
    // The current directory, where names are taken as they are given.
    Folder();
    ~Folder();
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // The folder `name` in `parent`: a link to a folder only where `follow_links`. Null where
    // there is no such folder or it cannot be opened.
    static std::shared_ptr<const Folder> open(const Folder& parent, const std::string& name,
                                              bool follow_links);
    // The current directory's folder, for names given as they are.
    static const Folder& current();
    // Which folder it is; none for the current directory.
    const FileKey& key() const;
    bool is_current() const;
#ifdef _WIN32
    // The system's name for a name taken in the folder: the folder's exact name and the name's
    // parts, with "." and ".." gone, so that parts Windows would otherwise change (trailing dots
    // and spaces, device names such as "con") stay as they are.
    std::wstring system_name(const std::string& name) const;
#else
    // The handle the *at calls take names in.
    int handle() const;
#endif

private:
#ifdef _WIN32
    std::wstring path_;  // \\?\ form, ending in a separator; empty for the current directory
#else
    int handle_ = -1;  // none for the current directory
#endif
    FileKey key_;
};

// The state of the file a name stands for, links followed; false when there is none.
bool stat(const Folder& folder, const std::string& name, FileState& state);

// True when something has the name: a file, a folder, a link even where it leads nowhere.
bool exists(const Folder& folder, const std::string& name);

// Keys of names by their folders. The folders asked about are kept, since a run's files mostly
// share a few.
class FolderKeys {
public:
    // The key of the name's folder, and the name.
    FileKey key_of_name(const Folder& folder, const std::string& name);
    // Both keys of a name, `state` being that of its file where it holds one.
    NameKeys keys_of(const Folder& folder, const std::string& name, const FileState* state);

private:
    std::map<std::pair<FileKey, std::string>, FileKey> known_;
};

// Reads the mask new files are made with, which the call that reads it also sets: once, before any
// thread makes a file.
void read_file_creation_mask();

// What a replacement keeps of the file it replaces: on POSIX systems its mode, and its owner and
// group where the process may set them; on Windows its attributes.
struct Access {
    std::uint32_t mode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
    bool of_existing_file = false;  // false: a new file's usual access
};

// An open file, closed when it goes. Only it touches its handle.
class File {
public:
    enum class Opened {
        Yes,
        Missing,     // no file of that name, or a name no file can bear
        NotRegular,  // a folder, a device, a pipe: nothing is read from it
        Failed,      // it exists but cannot be opened (permission, too many open files, ...)
    };

    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();

    // Opens an existing regular file for reading, and notes its state. A pipe or device is never
    // waited on; a folder is not opened, but its state noted.
    Opened open_for_reading(const Folder& folder, const std::string& name);
    // Creates a file for writing that must not exist under that name in any form (a link in its
    // place is refused), readable and writable by its owner alone. It takes no memory and no lock,
    // so that an interruption can come while it runs.
    bool create_new(const Folder& folder, const SystemName& name);

    bool is_open() const;
    // False when the system reports that what was written could not be stored.
    bool close();

    // As it was when the file was opened for reading.
    const FileState& state() const;
    // The key of the file as it is now.
    bool current_key(FileKey& key) const;

    // Reads up to n bytes at the offset and returns how many it read: fewer only where the file
    // ends, or fails.
    std::size_t read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) const;
    // Writes all n bytes at the offset; false when any of them could not be written.
    bool write_at(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) const;

    // Asks the system to set aside `bytes` for the file, where it can do so at once.
    void reserve(std::uint64_t bytes) const;
    // Gives the file the access of the file it replaces, or a new file's usual one.
    void give_access(const Access& access) const;

private:
#ifdef _WIN32
    using Handle = void*;
    static constexpr Handle kNone = nullptr;
#else
    using Handle = int;
    static constexpr Handle kNone = -1;
#endif
    Handle handle_ = kNone;
    FileState state_;
};

}  // namespace varnel::platform
