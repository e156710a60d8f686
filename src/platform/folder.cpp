#include "platform/folder.hpp"

#include <algorithm>
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
#endif

namespace varnel::platform {

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

}  // namespace varnel::platform
