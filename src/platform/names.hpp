// How the program's names meet the system's. Names are 8-bit strings: on POSIX systems the bytes
// the command line gives; on Windows UTF-8, made from the system's UTF-16 names and made back into
// them for every call, so that every name Windows can store opens the file it names.
#pragma once

#include <string>

namespace varnel::platform {

#ifdef _WIN32
using SystemName = std::wstring;
inline constexpr bool kNamesAreUtf8 = true;
inline constexpr char kDirectorySeparator = '\\';
// What separates the parts of a name.
inline constexpr const char* kSeparators = "\\/:";
#else
using SystemName = std::string;
// Every byte of a name counts as a character.
inline constexpr bool kNamesAreUtf8 = false;
inline constexpr char kDirectorySeparator = '/';
inline constexpr const char* kSeparators = "/";
#endif

// A name as the system calls take it. On Windows it is made absolute and given the \\?\ form, so
// that names longer than 260 characters work whether or not the machine allows them.
SystemName system_name(const std::string& name);

// The \\?\ form of a full Windows path ("C:\a" gives "\\?\C:\a", "\\server\share\a" gives
// "\\?\UNC\server\share\a"); a name already in a system form, or not full, stays as it is.
std::string long_path_form(const std::string& full_path);

// The folder part of a path with the separator that ends it; empty for a bare name.
std::string dirname(const std::string& path);

// The last part of a path: the name of a file in its folder.
std::string last_part(const std::string& path);

// The current directory's full path; false when it cannot be read.
bool current_directory(std::string& path);

// A folder's full path, as the current directory's reads once the folder is made current.
bool full_path(const std::string& folder, std::string& path);

// A name as it is taken in `folder`: a name that is not absolute is joined to it; an empty
// folder is the current directory.
std::string in_folder(const std::string& folder, const std::string& name);

// True when a name is absolute: it names the same file whatever the current directory is.
bool is_absolute(const std::string& name);

// A full name as Explorer hands a dropped file over: `shown` in its long form (on Windows, not
// its 8.3 one) as messages and header names show it; `system` the same as the system is to take
// it exactly, trailing dots and spaces and device names such as "con" included.
struct ExactName {
    std::string shown;
    std::string system;
};
ExactName exact_name(const std::string& full_name);

// True when the full path `inner` is `outer` or lies below it (letters of either case alike on
// Windows); `below` gets the rest of `inner`.
bool within(const std::string& outer, const std::string& inner, std::string& below);

}  // namespace varnel::platform
