#include "platform/replacement.hpp"

#include <chrono>
#include <cstdio>

#include "platform/system_keys.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/text.hpp"
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>
#endif

namespace varnel::platform {

namespace {

#ifdef _WIN32
bool key_of_name(const std::string& name, FileKey& key) {
    const HANDLE handle = open_to_know(system_name(name), true);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    key = key_of(info);
    return known;
}

// The file at the end of a link, by its full name.
bool follow_link(const std::wstring& link, std::string& target) {
    const HANDLE handle = open_to_know(link, false);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    wchar_t buffer[32768];
    const DWORD length = GetFinalPathNameByHandleW(handle, buffer, 32768, FILE_NAME_NORMALIZED);
    CloseHandle(handle);
    target = narrow(std::wstring(buffer, length < 32768 ? length : 0));
    return length > 0 && length < 32768;
}

// The name the file has on the disk, for a name that may be its short 8.3 form.
bool reached_by_long_name(const std::wstring& path) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return false;
    }
    FindClose(search);
    const std::size_t last = path.find_last_of(L'\\');
    const std::wstring typed = last == std::wstring::npos ? path : path.substr(last + 1);
    return CompareStringOrdinal(typed.c_str(), static_cast<int>(typed.size()), found.cFileName, -1,
                                TRUE) == CSTR_EQUAL;
}
#else
bool key_of_name(const std::string& name, FileKey& key) {
    struct stat info {};
    if (::lstat(name.c_str(), &info) != 0) {
        return false;
    }
    key = key_of(info);
    return true;
}

// The system follows a link in a sticky folder that everyone may write to only for the link's
// owner or the folder's (protected_symlinks on Linux): another user's link planted there must not
// lead this process's output onto a file of its choosing.
bool may_follow(const std::string& link, const struct stat& link_info) {
    const std::string folder = dirname(link);
    struct stat info {};
    if (::stat(folder.empty() ? "." : folder.c_str(), &info) != 0) {
        return false;
    }
    const bool shared = (info.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return !shared || link_info.st_uid == ::geteuid() || link_info.st_uid == info.st_uid;
}

bool read_link(const std::string& link, std::string& text) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
        if (length < 0) {
            return false;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            text.assign(buffer.data(), static_cast<std::size_t>(length));
            return true;
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool rename_keeping_existing(const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    // A second name fails where the name exists; the first then goes.
    if (::link(from, to) != 0) {
        return false;
    }
    ::unlink(from);
    return true;
}
#endif

// The output's place but for the key of its folder and name.
OutputPlace output_as_it_is(const std::string& name) {
    OutputPlace place;
    place.target = name;
#ifdef _WIN32
    std::wstring path = system_name(name);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) {
        return place;
    }
    place.state = OutputPlace::State::Refused;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!follow_link(path, place.target)) {
            return place;
        }
        path = system_name(place.target);
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) {
            return place;
        }
    } else if (!reached_by_long_name(path)) {
        // Through its short name, a file would be replaced by an output of another name.
        return place;
    }
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return place;
    }
    // Another program that holds the file open without sharing it for writing keeps it. The look
    // itself shares the file for everything, so that it never fails a replacement under way, an
    // earlier file's of the same run among them.
    const HANDLE probe = CreateFileW(path.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        return place;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(probe) == FILE_TYPE_DISK && GetFileInformationByHandle(probe, &info) != 0) {
        place.state = OutputPlace::State::Replaceable;
        place.keys.file = key_of(info);
        place.access = {data.dwFileAttributes, 0, 0, true};
    }
    CloseHandle(probe);
    return place;
#else
    struct stat info {};
    for (int links = 0;; ++links) {
        if (::lstat(place.target.c_str(), &info) != 0) {
            // A link that leads nowhere yet: the output is made where it leads.
            return place;
        }
        if (!S_ISLNK(info.st_mode)) {
            break;
        }
        std::string link;
        if (links == 40 || !may_follow(place.target, info) || !read_link(place.target, link)) {
            place.state = OutputPlace::State::Refused;
            return place;
        }
        place.target = link.rfind('/', 0) == 0 ? link : dirname(place.target) + link;
    }
    place.keys.file = key_of(info);
    place.access = {static_cast<std::uint32_t>(info.st_mode & 07777),
                    static_cast<std::uint32_t>(info.st_uid),
                    static_cast<std::uint32_t>(info.st_gid), true};
    // A file without any write permission bit is read-only by the user's wish, even for root, who
    // could write it anyway.
    const bool replaceable = S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0 &&
                             ::faccessat(AT_FDCWD, place.target.c_str(), W_OK, AT_EACCESS) == 0;
    place.state = replaceable ? OutputPlace::State::Replaceable : OutputPlace::State::Refused;
    return place;
#endif
}

}  // namespace

OutputPlace stat_output(const std::string& name, FolderKeys& folders) {
    OutputPlace place = output_as_it_is(name);
    place.keys.folder_and_name = folders.key_of_name(place.target);
    return place;
}

Replacement::Replacement()
    : random_(
          std::random_device{}() ^
          static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())) {
}

Replacement::~Replacement() {
    abandon();
}

const File& Replacement::file() const {
    return file_;
}

bool Replacement::begin(const OutputPlace& place) {
    abandon();
    target_ = place.target;
    replaces_existing_ = place.state == OutputPlace::State::Replaceable;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".varnel-%016llx.tmp",
                      static_cast<unsigned long long>(random_()));
        temporary_ = dirname(target_) + name;
        system_temporary_ = system_name(temporary_);
        if (tracking_.create(system_temporary_,
                             [&] { return file_.create_new(system_temporary_); })) {
            file_.give_access(place.access);
            return true;
        }
    }
    temporary_.clear();
    return false;
}

Put Replacement::finish(Existing existing) {
    // Should the new file's name have been taken over by someone else meanwhile, whatever now
    // bears it is neither renamed nor removed.
    FileKey named;
    FileKey open;
    if (!key_of_name(temporary_, named) || !file_.current_key(open) || !(named == open)) {
        tracking_.forget();
        file_.close();
        temporary_.clear();
        return Put::Failed;
    }
    if (!file_.close()) {
        abandon();
        return Put::Failed;
    }
    const SystemName target = system_name(target_);
    const bool keep_existing = existing == Existing::Keep;
#ifdef _WIN32
    bool put = false;
    if (keep_existing) {
        put = MoveFileExW(system_temporary_.c_str(), target.c_str(), 0) != 0;
    } else if (replaces_existing_) {
        // The replaced file keeps its attributes and access list.
        put = ReplaceFileW(target.c_str(), system_temporary_.c_str(), nullptr,
                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr) != 0 ||
              (GetLastError() == ERROR_FILE_NOT_FOUND &&
               MoveFileExW(system_temporary_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
    } else {
        put = MoveFileExW(system_temporary_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    const bool taken =
        !put && (GetLastError() == ERROR_ALREADY_EXISTS || GetLastError() == ERROR_FILE_EXISTS);
#else
    const bool put = keep_existing
                         ? rename_keeping_existing(system_temporary_.c_str(), target.c_str())
                         : ::rename(system_temporary_.c_str(), target.c_str()) == 0;
    const bool taken = !put && errno == EEXIST;
#endif
    if (!put) {
        abandon();
        return keep_existing && taken ? Put::NameTaken : Put::Failed;
    }
    tracking_.forget();
    temporary_.clear();
    return Put::Done;
}

void Replacement::abandon() {
    if (!temporary_.empty()) {
        // Whatever took the new file's name meanwhile is left to its taker.
        FileKey named;
        FileKey open;
        const bool ours = !file_.is_open() || (key_of_name(temporary_, named) &&
                                               file_.current_key(open) && named == open);
        file_.close();
        if (ours) {
#ifdef _WIN32
            DeleteFileW(system_temporary_.c_str());
#else
            ::unlink(system_temporary_.c_str());
#endif
        }
        temporary_.clear();
    }
    file_.close();
    tracking_.forget();
}

}  // namespace varnel::platform
