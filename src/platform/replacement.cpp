#include "platform/replacement.hpp"

#include <chrono>
#include <cstdio>
#include <vector>

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
#endif

namespace varnel::platform {

namespace {

#ifdef _WIN32
bool key_of_name(const Folder& folder, const std::string& name, FileKey& key) {
    const HANDLE handle = open_to_know(folder.system_name(name), true);
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

// Programs that open files just closed (scanners, indexers, sync clients) hold them for a moment:
// a move or a removal they block is tried again for this long.
constexpr ULONGLONG kHeldMilliseconds = 3000;

bool held(DWORD error) {
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
           error == ERROR_ACCESS_DENIED || error == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// Calls `step` until it succeeds, fails for another reason than a file being held, or the time
// runs out; the last error stays the step's.
template <typename Step>
bool patiently(Step&& step) {
    const ULONGLONG deadline = GetTickCount64() + kHeldMilliseconds;
    while (!step()) {
        const DWORD error = GetLastError();
        if (!held(error) || GetTickCount64() > deadline) {
            SetLastError(error);
            return false;
        }
        Sleep(5);
    }
    return true;
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
bool key_of_name(const Folder& folder, const std::string& name, FileKey& key) {
    struct stat info {};
    if (::fstatat(folder.handle(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    key = key_of(info);
    return true;
}

// The system follows a link in a sticky folder that everyone may write to only for the link's
// owner or the folder's (protected_symlinks on Linux): another user's link planted there must not
// lead this process's output onto a file of its choosing.
bool may_follow(const Folder& folder, const std::string& link, const struct stat& link_info) {
    const std::string parent = dirname(link);
    struct stat info {};
    if (::fstatat(folder.handle(), parent.empty() ? "." : parent.c_str(), &info, 0) != 0) {
        return false;
    }
    const bool shared = (info.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
    return !shared || link_info.st_uid == ::geteuid() || link_info.st_uid == info.st_uid;
}

bool read_link(const Folder& folder, const std::string& link, std::string& text) {
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length =
            ::readlinkat(folder.handle(), link.c_str(), buffer.data(), buffer.size());
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

bool rename_keeping_existing(int folder, const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return false;
    }
#endif
    // A second name fails where the name exists; the first then goes.
    if (::linkat(folder, from, folder, to, 0) != 0) {
        return false;
    }
    ::unlinkat(folder, from, 0);
    return true;
}
#endif

// The output's place but for the key of its folder and name.
OutputPlace output_as_it_is(const Folder& folder, const std::string& name) {
    OutputPlace place;
    place.folder = &folder;
    place.target = name;
#ifdef _WIN32
    std::wstring path = folder.system_name(name);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) {
        return place;
    }
    place.state = OutputPlace::State::Refused;
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        if (!follow_link(path, place.target)) {
            return place;
        }
        path = folder.system_name(place.target);
        if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) {
            return place;
        }
    } else if (!reached_by_long_name(path)) {
        // Through its short name, a file would be replaced by an output of another name.
        return place;
    }
    // Its time, for --update, even where it is not to be replaced.
    place.modified =
        static_cast<std::int64_t>(std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32 |
                                  data.ftLastWriteTime.dwLowDateTime);
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
        place.size = std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    }
    CloseHandle(probe);
    return place;
#else
    struct stat info {};
    for (int links = 0;; ++links) {
        if (::fstatat(folder.handle(), place.target.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            // A link that leads nowhere yet: the output is made where it leads.
            return place;
        }
        if (!S_ISLNK(info.st_mode)) {
            break;
        }
        std::string link;
        if (links == 40 || !may_follow(folder, place.target, info) ||
            !read_link(folder, place.target, link)) {
            place.state = OutputPlace::State::Refused;
            return place;
        }
        place.target = link.rfind('/', 0) == 0 ? link : dirname(place.target) + link;
    }
    place.keys.file = key_of(info);
    place.access = {static_cast<std::uint32_t>(info.st_mode & 07777),
                    static_cast<std::uint32_t>(info.st_uid),
                    static_cast<std::uint32_t>(info.st_gid), true};
    place.size = static_cast<std::uint64_t>(info.st_size);
#ifdef __APPLE__
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    place.modified = static_cast<std::int64_t>(modified.tv_sec) * 1000000000 + modified.tv_nsec;
    // A file without any write permission bit is read-only by the user's wish, even for root, who
    // could write it anyway.
    const bool replaceable =
        S_ISREG(info.st_mode) && (info.st_mode & 0222) != 0 &&
        ::faccessat(folder.handle(), place.target.c_str(), W_OK, AT_EACCESS) == 0;
    place.state = replaceable ? OutputPlace::State::Replaceable : OutputPlace::State::Refused;
    return place;
#endif
}

}  // namespace

OutputPlace stat_output(const Folder& folder, const std::string& name, FolderKeys& folders) {
    OutputPlace place = output_as_it_is(folder, name);
    place.keys.folder_and_name = folders.key_of_name(folder, place.target);
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
    folder_ = place.folder;
    target_ = place.target;
    replaces_existing_ = place.state == OutputPlace::State::Replaceable;
    access_ = place.access;
    for (int attempt = 0; attempt < 16; ++attempt) {
        char name[32];
        std::snprintf(name, sizeof name, ".varnel-%016llx.tmp",
                      static_cast<unsigned long long>(random_()));
        temporary_ = dirname(target_) + name;
#ifdef _WIN32
        system_temporary_ = folder_->system_name(temporary_);
#else
        system_temporary_ = temporary_;
#endif
        if (tracking_.create(*folder_, system_temporary_,
                             [&] { return file_.create_new(*folder_, system_temporary_); })) {
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
    if (!key_of_name(*folder_, temporary_, named) || !file_.current_key(open) || !(named == open)) {
        tracking_.forget();
        file_.close();
        temporary_.clear();
        return Put::Failed;
    }
    if (!file_.close()) {
        abandon();
        return Put::Failed;
    }
#ifdef _WIN32
    const SystemName target = folder_->system_name(target_);
#else
    const SystemName& target = target_;
#endif
    const bool keep_existing = existing == Existing::Keep;
#ifdef _WIN32
    const wchar_t* from = system_temporary_.c_str();
    const auto move = [&](DWORD flags) {
        return patiently([&] { return MoveFileExW(from, target.c_str(), flags) != 0; });
    };
    bool put = false;
    if (keep_existing) {
        put = move(0);
    } else if (replaces_existing_) {
        // The replaced file keeps its attributes and access list. Where Windows has removed it
        // but could not move the new file into its place (error 1176, another program holding
        // the new file), or it is gone, the new file goes there by itself.
        bool gone = false;
        put = patiently([&] {
            if (ReplaceFileW(target.c_str(), from, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                             nullptr, nullptr) != 0) {
                return true;
            }
            const DWORD error = GetLastError();
            gone = error == ERROR_UNABLE_TO_MOVE_REPLACEMENT || error == ERROR_FILE_NOT_FOUND;
            SetLastError(error);
            return false;
        });
        put = put || (gone && (move(MOVEFILE_REPLACE_EXISTING) || copy_into_place(target)));
        if (!put && gone) {
            // The old output is gone and the new file is the only copy of what it was to hold:
            // it stays, under its temporary name.
            tracking_.forget();
            temporary_.clear();
            return Put::Failed;
        }
    } else {
        put = move(MOVEFILE_REPLACE_EXISTING);
    }
    const DWORD error = GetLastError();
    const bool taken = !put && (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS);
    if (put && GetFileAttributesW(from) != INVALID_FILE_ATTRIBUTES) {
        // Copied into place: the new file itself goes.
        abandon();
        return Put::Done;
    }
#else
    const int in = folder_->handle();
    const bool put = keep_existing
                         ? rename_keeping_existing(in, system_temporary_.c_str(), target.c_str())
                         : ::renameat(in, system_temporary_.c_str(), in, target.c_str()) == 0;
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

#ifdef _WIN32
// After error 1176 Windows has removed the old output, and another program holds the new file
// under its temporary name beyond the time a move is tried for. The new file's bytes go into the
// output's name, made as a new file and tracked in the new file's stead: an interruption then
// removes the unfinished copy, never the new file, which may be the only copy of the output.
bool Replacement::copy_into_place(const SystemName& target) {
    File in;
    File out;
    if (in.open_for_reading(*folder_, temporary_) != File::Opened::Yes) {
        return false;
    }
    tracking_.forget();
    if (!tracking_.create(*folder_, target, [&] { return out.create_new(*folder_, target); })) {
        return false;
    }
    out.give_access(access_);
    std::vector<std::uint8_t> piece(std::size_t{1} << 20);
    bool copied = true;
    for (std::uint64_t at = 0; copied && at < in.state().size;) {
        const std::size_t got = in.read_at(at, piece.data(), piece.size());
        copied = got > 0 && out.write_at(at, piece.data(), got);
        at += got;
    }
    copied = out.close() && copied;
    if (!copied) {
        DeleteFileW(target.c_str());
    }
    tracking_.forget();
    return copied;
}
#endif

void Replacement::abandon() {
    if (!temporary_.empty()) {
        // Whatever took the new file's name meanwhile is left to its taker.
        FileKey named;
        FileKey open;
        const bool ours = !file_.is_open() || (key_of_name(*folder_, temporary_, named) &&
                                               file_.current_key(open) && named == open);
        file_.close();
        if (ours) {
#ifdef _WIN32
            patiently([&] { return DeleteFileW(system_temporary_.c_str()) != 0; });
#else
            ::unlinkat(folder_->handle(), system_temporary_.c_str(), 0);
#endif
        }
        temporary_.clear();
    }
    file_.close();
    tracking_.forget();
}

}  // namespace varnel::platform
