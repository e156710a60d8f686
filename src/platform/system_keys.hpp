// Within the platform layer: the key and state of a file as the system describes them, and, on
// Windows, a name opened only to learn which file it is.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/folder.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace varnel::platform {

#ifdef _WIN32
inline FileKey key_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return {info.dwVolumeSerialNumber,
            std::uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow,
            {}};
}

// What a link leads to, or with `at_link` the link itself; INVALID_HANDLE_VALUE where there is
// nothing.
inline HANDLE open_to_know(const std::wstring& name, bool at_link) {
    return CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | (at_link ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
                       nullptr);
}

inline FileState state_of(const BY_HANDLE_FILE_INFORMATION& info) {
    return {key_of(info), std::uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow,
            static_cast<std::int64_t>(std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32 |
                                      info.ftLastWriteTime.dwLowDateTime)};
}
#else
inline FileKey key_of(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), {}};
}

inline FileState state_of(const struct stat& info) {
#ifdef __APPLE__
    const timespec& modified = info.st_mtimespec;
#else
    const timespec& modified = info.st_mtim;
#endif
    return {key_of(info), static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0)),
            static_cast<std::int64_t>(modified.tv_sec) * 1000000000 + modified.tv_nsec};
}

// Names are opened so that no terminal becomes the controlling one and no handle passes to a
// program started later.
constexpr int kNoTerminal = O_CLOEXEC | O_NOCTTY;
#endif

}  // namespace varnel::platform
