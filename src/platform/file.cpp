#include "platform/file.hpp"

#include <algorithm>
#include <limits>
#include <tuple>
#include <utility>

#include "platform/names.hpp"
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

// A single read or write of at most 1 GiB: systems differ in the largest count they take.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

#ifdef _WIN32
FileState state_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return {key_of(info), std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow,
            static_cast<std::int64_t>(std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                                      info.ftLastWriteTime.dwLowDateTime)};
}

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
FileState state_of(const struct stat& info) {
#ifdef __APPLE__
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    return {key_of(info), static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0)),
            static_cast<std::int64_t>(modified.tv_sec) * 1000000000 + modified.tv_nsec};
}

constexpr int kNoTerminal = O_CLOEXEC | O_NOCTTY;

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

bool FileKey::operator==(const FileKey& other) const {
    return device == other.device && number == other.number && name == other.name;
}

bool FileKey::operator<(const FileKey& other) const {
    return std::tie(device, number, name) < std::tie(other.device, other.number, other.name);
}

bool FileState::operator==(const FileState& other) const {
    return key == other.key && size == other.size && modified == other.modified;
}

Folder::Folder() = default;

const Folder& Folder::current() {
    static const Folder current;
    return current;
}

Folder::~Folder() {
#ifndef _WIN32
    if (handle_ >= 0) {
        ::close(handle_);
    }
#endif
}

bool Folder::is_current() const {
#ifdef _WIN32
    return path_.empty();
#else
    return handle_ < 0;
#endif
}

const FileKey& Folder::key() const {
    return key_;
}

#ifdef _WIN32
std::wstring Folder::system_name(const std::string& name) const {
    // Names of other folders and drives as the system reads them.
    if (path_.empty() || is_absolute(name) || (name.size() >= 2 && name[1] == ':')) {
        return platform::system_name(name);
    }
    // The root, \\?\C:\ or \\?\UNC\server\share\, which ".." never leaves.
    std::size_t root = 7;
    if (path_.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        root = std::min(path_.find(L'\\', path_.find(L'\\', 8) + 1) + 1, path_.size());
    }
    std::wstring path = name[0] == '\\' || name[0] == '/' ? path_.substr(0, root) : path_;
    for (std::size_t start = 0; start < name.size();) {
        const std::size_t end = std::min(name.find_first_of("\\/", start), name.size());
        const std::string part = name.substr(start, end - start);
        if (part == ".." && path.size() > root) {
            path.resize(path.find_last_of(L'\\', path.size() - 2) + 1);
        } else if (!part.empty() && part != "." && part != "..") {
            path += wide(part) + (end < name.size() ? L"\\" : L"");
        }
        start = end + 1;
    }
    return path;
}

std::shared_ptr<const Folder> Folder::open(const Folder& parent, const std::string& name,
                                           bool follow_links) {
    std::wstring path = parent.system_name(name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
        (!follow_links && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        return nullptr;
    }
    // The folder itself, not what a link swapped in since the look above leads to.
    const HANDLE handle = open_to_know(path, !follow_links);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known = handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info);
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
    if (!known || (!follow_links && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        return nullptr;
    }
    std::shared_ptr<Folder> folder(new Folder);
    if (path.back() != L'\\') {
        path += L'\\';
    }
    folder->path_ = path;
    folder->key_ = key_of(info);
    return folder;
}
#else
int Folder::handle() const {
    return handle_ < 0 ? AT_FDCWD : handle_;
}

std::shared_ptr<const Folder> Folder::open(const Folder& parent, const std::string& name,
                                           bool follow_links) {
    const int fd = ::openat(parent.handle(), name.c_str(),
                            O_RDONLY | O_DIRECTORY | kNoTerminal | (follow_links ? 0 : O_NOFOLLOW));
    struct stat info {};
    if (fd < 0) {
        return nullptr;
    }
    std::shared_ptr<Folder> folder(new Folder);
    folder->handle_ = fd;
    if (::fstat(fd, &info) != 0) {
        return nullptr;
    }
    folder->key_ = key_of(info);
    return folder;
}
#endif

bool stat(const Folder& folder, const std::string& name, FileState& state) {
#ifdef _WIN32
    const HANDLE handle = open_to_know(folder.system_name(name), false);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool known =
        handle != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle, &info) != 0;
    if (handle != INVALID_HANDLE_VALUE) {
        CloseHandle(handle);
    }
#else
    struct stat info {};
    const bool known = ::fstatat(folder.handle(), name.c_str(), &info, 0) == 0;
#endif
    if (known) {
        state = state_of(info);
    }
    return known;
}

bool exists(const Folder& folder, const std::string& name) {
#ifdef _WIN32
    return GetFileAttributesW(folder.system_name(name).c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat info {};
    return ::fstatat(folder.handle(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
#endif
}

FileKey FolderKeys::key_of_name(const Folder& folder, const std::string& name) {
#ifdef _WIN32
    // The name as the system reads it: absolute, trailing dots and spaces gone, in one case.
    std::wstring full = folder.system_name(name);
    CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    const std::string path = narrow(full);
    const Folder& in = Folder::current();
#else
    const std::string& path = name;
    const Folder& in = folder;
#endif
    std::string parent = dirname(path);
    if (parent.empty()) {
        parent = ".";
    }
    auto known = known_.find({in.key(), parent});
    if (known == known_.end()) {
        // A run that meets many folders keeps only the ones it met last.
        if (known_.size() >= 64) {
            known_.clear();
        }
        FileState state;
        known = known_
                    .emplace(std::make_pair(in.key(), parent),
                             stat(in, parent, state) ? state.key : FileKey{0, 0, parent})
                    .first;
    }
    FileKey key = known->second;
    key.name += last_part(path);
    return key;
}

NameKeys FolderKeys::keys_of(const Folder& folder, const std::string& name,
                             const FileState* state) {
    NameKeys keys{std::nullopt, key_of_name(folder, name)};
    if (state != nullptr) {
        keys.file = state->key;
    }
    return keys;
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
