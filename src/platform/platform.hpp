// The calls varnel needs from the operating system, in one place: files read and written at
// offsets in large pieces (so that speed does not depend on a C++ library's stream buffering),
// new files made exclusively, and the steps that replace an output whole. One branch for POSIX
// systems and one for Windows, both in platform.cpp.
//
// Names are 8-bit strings: on POSIX systems the bytes the command line gives, on Windows UTF-8,
// made from the system's UTF-16 names and made back into them for every call, so that every name
// Windows can store opens the file it names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace varnel::platform {

// An open file, closed when it goes.
struct File {
#ifdef _WIN32
    using Handle = void*;
    static constexpr Handle kNone = nullptr;
#else
    using Handle = int;
    static constexpr Handle kNone = -1;
#endif
    Handle handle = kNone;
    File() = default;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    ~File();
};

bool is_open(const File& file);

// Closes the file; false when the system reports that what was written could not be stored.
bool close_file(File& file);

enum class OpenResult {
    Opened,
    Missing,     // no file of that name
    NotRegular,  // a folder, a device, a pipe: nothing is read from it
    Failed,      // it exists but cannot be opened (permission, too many open files, ...)
};

// Opens an existing regular file for reading. A pipe or device is never waited on.
OpenResult open_for_reading(const std::string& name, File& file);

bool file_size(const File& file, std::uint64_t& size);

// Reads up to n bytes at the offset into `out` and returns how many it read: fewer only where
// the file ends, or fails.
std::size_t read_at(const File& file, std::uint64_t offset, std::uint8_t* out, std::size_t n);

// Writes all n bytes at the offset; false when any of them could not be written.
bool write_at(const File& file, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n);

// What an existing output is, and what its replacement keeps of it.
struct Existing {
    bool exists = false;
    bool replaceable = false;  // a regular file that may be written, with a write permission bit
    std::uint32_t mode = 0;
    std::uint32_t owner = 0;
    std::uint32_t group = 0;
};

// The file a name stands for when it is a symbolic link (the link stays, its target is
// replaced); the name itself otherwise. False when the link cannot be followed.
bool resolve_link(const std::string& name, std::string& target);

Existing inspect_existing(const std::string& name);

// The name of a file in the same folder as `path`.
std::string beside(const std::string& path, const std::string& file_name);

// Creates a new file for writing, which must not exist under that name in any form (a link in
// its place is refused), and tracks it for interruptions to remove in the same step, which no
// interruption can come between: `tracked` is its slot, -1 when too many are tracked.
bool create_new_file(const std::string& name, File& file, int& tracked);

// Asks the system to set aside `size` bytes for the file, where it can; the file is then that
// long.
void reserve_space(const File& file, std::uint64_t size);

// Gives the new file an existing file's mode, and its owner and group where the process may.
void copy_access(const File& file, const Existing& existing);

// True when `name` still names the open file.
bool names_file(const std::string& name, const File& file);

bool rename_file(const std::string& from, const std::string& to);
void remove_file(const std::string& name);

// New files being written, removed should the process be interrupted: by Ctrl-C, a terminal that
// closes, a termination request, a broken pipe (on Windows: the console's Ctrl-C, Ctrl-Break
// and close events). The process then ends as the interruption would have ended it. A file-size
// limit makes writes fail instead of ending the process. Call once, before any file is tracked.
void remove_unfinished_files_on_interrupt();

// New files are tracked (see create_new_file) until untracked; no more than this many at once.
inline constexpr unsigned kMostUnfinishedFiles = 256;
void untrack_unfinished_file(int slot);

// A text that names of one file share, whether it exists or not: its absolute path with links
// and dots resolved, and on Windows in one case, since names there match regardless of it.
std::string comparable_path(const std::string& name);

// The number of processors this process may use; at least one.
unsigned processor_count();

// True when both names exist and are the same file, however spelled.
bool same_file(const std::string& a, const std::string& b);

// The current directory's full path; false when it cannot be read.
bool current_directory(std::string& path);

// The arguments after the program's name.
std::vector<std::string> program_arguments(int argc, char** argv);

// A name with * or ? in its last part stands for the files that match it, sorted, on Windows,
// whose command shell leaves that to the program; one that matches nothing stands for itself.
// Elsewhere the shell has done it, and a name is itself.
std::vector<std::string> expand_pattern(const std::string& name);

// A name as the M32 header holds it: on Windows in the ANSI code page, '?' for a character it
// cannot show; elsewhere as it is.
std::string header_text(const std::string& text);

// Prints text at once, so that a build script's log keeps its order. On Windows the console
// shows every character of it; redirected, it is in the console's code page.
void print_text(std::FILE* out, const std::string& text);

// When the program is alone on a console of its own (Windows, started from Explorer), asks for
// a key before the console closes, so that its lines can be read.
void wait_for_a_key_if_alone_on_the_console();

// Names on Windows are UTF-8 text, whose characters may take several bytes; elsewhere every byte
// of a name counts as a character.
#ifdef _WIN32
inline constexpr bool kNamesAreUtf8 = true;
#else
inline constexpr bool kNamesAreUtf8 = false;
#endif

// The separator of folders in a path of this system.
#ifdef _WIN32
inline constexpr char kDirectorySeparator = '\\';
#else
inline constexpr char kDirectorySeparator = '/';
#endif

}  // namespace varnel::platform
