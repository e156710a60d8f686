#include "platform/file.hpp"

#include <algorithm>
#include <limits>
#include <utility>

#include "platform/names.hpp"
#include "platform/system_keys.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace varnel::platform {

namespace {

// A single read or write of at most 1 GiB: systems differ in the largest count they take.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

#ifdef _WIN32
OVERLAPPED at_offset(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

// Names that no file can bear, and places that cannot be reached (a missing network path, a share
// that is no disk, a drive that is not ready), hold no file.
bool means_missing(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_NAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_PATHNAME:
        case ERROR_NOT_READY:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_DEV_TYPE:
        case ERROR_NO_NET_OR_BAD_PATH:
        case ERROR_NETWORK_UNREACHABLE:
            return true;
        default:
            return false;
    }
}
#else
bool beyond_offsets(std::uint64_t at) {
    return at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());
}

mode_t usual_mode() {
    // Read once, before any thread makes a file: the call that reads the mask also sets it.
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return static_cast<mode_t>(0666 & ~mask);
}
#endif

}  // namespace

void read_file_creation_mask() {
#ifndef _WIN32
    usual_mode();
#endif
}

File::File(File&& other) noexcept
    : handle_(std::exchange(other.handle_, kNone)), state_(std::move(other.state_)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, kNone);
        state_ = std::move(other.state_);
    }
    return *this;
}

File::~File() {
    close();
}

bool File::is_open() const {
    return handle_ != kNone;
}

const FileState& File::state() const {
    return state_;
}

bool File::close() {
    if (!is_open()) {
        return true;
    }
#ifdef _WIN32
    const bool closed = CloseHandle(handle_) != 0;
#else
    const bool closed = ::close(handle_) == 0 || errno == EINTR;
#endif
    handle_ = kNone;
    return closed;
}

File::Opened File::open_for_reading(const Folder& folder, const std::string& name) {
    close();
    state_ = {};
#ifdef _WIN32
    const std::wstring path = folder.system_name(name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return means_missing(GetLastError()) ? Opened::Missing : Opened::Failed;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return stat(folder, name, state_) ? Opened::NotRegular : Opened::Failed;
    }
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return Opened::Failed;
    }
    handle_ = handle;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK;
#else
    // Without O_NONBLOCK, opening a pipe would wait for a writer.
    const int fd = ::openat(folder.handle(), name.c_str(), O_RDONLY | O_NONBLOCK | kNoTerminal);
    struct stat info {};
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) {
            return Opened::Missing;
        }
        if (::fstatat(folder.handle(), name.c_str(), &info, 0) != 0 || S_ISREG(info.st_mode)) {
            return Opened::Failed;
        }
        state_ = state_of(info);
        return Opened::NotRegular;
    }
    handle_ = fd;
    const bool known = ::fstat(fd, &info) == 0;
    const bool regular = S_ISREG(info.st_mode);
#endif
    if (!known) {
        close();
        return Opened::Failed;
    }
    state_ = state_of(info);
    if (!regular) {
        close();
        return Opened::NotRegular;
    }
    return Opened::Yes;
}

bool File::create_new([[maybe_unused]] const Folder& folder, const SystemName& name) {
    close();
#ifdef _WIN32
    const HANDLE handle =
        CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = handle == INVALID_HANDLE_VALUE ? kNone : handle;
#else
    handle_ = ::openat(folder.handle(), name.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kNoTerminal, 0600);
#endif
    return is_open();
}

bool File::current_key(FileKey& key) const {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileInformationByHandle(handle_, &info) == 0) {
        return false;
    }
#else
    struct stat info {};
    if (::fstat(handle_, &info) != 0) {
        return false;
    }
#endif
    key = key_of(info);
    return true;
}

std::size_t File::read_at(std::uint64_t offset, std::uint8_t* out, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const std::size_t piece = std::min(n - done, kLargestPiece);
#ifdef _WIN32
        OVERLAPPED position = at_offset(offset + done);
        DWORD got = 0;
        if (ReadFile(handle_, out + done, static_cast<DWORD>(piece), &got, &position) == 0 ||
            got == 0) {
            break;
        }
#else
        if (beyond_offsets(offset + done)) {
            break;
        }
        const ssize_t got = ::pread(handle_, out + done, piece, static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
#endif
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool File::write_at(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
        const std::size_t piece = std::min(n - done, kLargestPiece);
#ifdef _WIN32
        OVERLAPPED position = at_offset(offset + done);
        DWORD wrote = 0;
        if (WriteFile(handle_, bytes + done, static_cast<DWORD>(piece), &wrote, &position) == 0 ||
            wrote == 0) {
            return false;
        }
#else
        if (beyond_offsets(offset + done)) {
            return false;
        }
        const ssize_t wrote =
            ::pwrite(handle_, bytes + done, piece, static_cast<off_t>(offset + done));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
#endif
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

void File::reserve([[maybe_unused]] std::uint64_t bytes) const {
#ifdef __linux__
    // Only where the file system can do it at once: posix_fallocate would write zeros instead.
    if (!beyond_offsets(bytes)) {
        [[maybe_unused]] const int reserved = ::fallocate(handle_, 0, 0, static_cast<off_t>(bytes));
    }
#endif
}

void File::give_access(const Access& access) const {
#ifdef _WIN32
    // Read-only files are never replaced; folders never are.
    constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (access.of_existing_file) {
        FILE_BASIC_INFO info{};
        info.FileAttributes =
            (access.mode & kKept) != 0 ? access.mode & kKept : FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(handle_, FileBasicInfo, &info, sizeof info);
    }
#else
    static const uid_t user = ::geteuid();
    static const gid_t group = ::getegid();
    if (access.of_existing_file && (access.owner != user || access.group != group)) {
        // Only root may give a file away; anyone may keep the group where they belong to it.
        if (::fchown(handle_, static_cast<uid_t>(access.owner), static_cast<gid_t>(access.group)) !=
            0) {
            [[maybe_unused]] const int kept_group =
                ::fchown(handle_, static_cast<uid_t>(-1), static_cast<gid_t>(access.group));
        }
    }
    // The mode comes last, since a change of owner clears the set-user-ID and set-group-ID bits.
    ::fchmod(handle_, access.of_existing_file ? static_cast<mode_t>(access.mode) : usual_mode());
#endif
}

}  // namespace varnel::platform
