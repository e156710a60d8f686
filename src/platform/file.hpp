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

#include "platform/folder.hpp"
#include "platform/names.hpp"

namespace varnel::platform {

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
