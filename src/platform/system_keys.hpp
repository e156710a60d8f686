// Within the platform layer: the key of a file as the system describes it, and, on Windows, a name
// opened only to learn which file it is.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
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
#else
inline FileKey key_of(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino), {}};
}
#endif

}  // namespace varnel::platform
