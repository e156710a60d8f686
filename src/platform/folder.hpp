// Folders that names are taken in, which file a name stands for, and its state.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

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

}  // namespace varnel::platform
