#include "platform/folders.hpp"

#include <algorithm>

#include "platform/names.hpp"
#include "platform/text.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace varnel::platform {

#ifndef _WIN32
namespace {

// A link counts as the file it leads to, and a link to a folder not at all; the entry's own type,
// where the system gives it, saves a look at the file.
bool kind_of(int folder, const char* name, unsigned char type, FolderEntry::Kind& kind) {
    if (type == DT_REG || type == DT_DIR) {
        kind = type == DT_DIR ? FolderEntry::Kind::Folder : FolderEntry::Kind::File;
        return true;
    }
    struct stat info {};
    if ((type != DT_LNK && type != DT_UNKNOWN) ||
        ::fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
        (S_ISLNK(info.st_mode) &&
         (::fstatat(folder, name, &info, 0) != 0 || !S_ISREG(info.st_mode)))) {
        return false;
    }
    kind = S_ISDIR(info.st_mode) ? FolderEntry::Kind::Folder : FolderEntry::Kind::File;
    return S_ISREG(info.st_mode) || S_ISDIR(info.st_mode);
}

}  // namespace
#endif

bool is_folder(const std::string& name) {
    return is_folder(Folder::current(), name);
}

bool is_folder(const Folder& folder, const std::string& name) {
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesW(folder.system_name(name).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
    struct stat info {};
    return ::fstatat(folder.handle(), name.c_str(), &info, 0) == 0 && S_ISDIR(info.st_mode);
#endif
}

bool list_folder(const Folder& folder, std::vector<FolderEntry>& entries) {
    entries.clear();
#ifdef _WIN32
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW(folder.system_name("*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    }
    do {
        const DWORD attributes = found.dwFileAttributes;
        const std::wstring name = found.cFileName;
        const bool folder_entry = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (name == L"." || name == L".." ||
            (attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0 ||
            (folder_entry && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
            continue;
        }
        entries.push_back(
            {narrow(name), folder_entry ? FolderEntry::Kind::Folder : FolderEntry::Kind::File});
    } while (FindNextFileW(search, &found) != 0);
    FindClose(search);
#else
    // A listing of its own, since the listing moves the handle it reads through.
    const int listed = ::openat(folder.handle(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = listed < 0 ? nullptr : ::fdopendir(listed);
    if (dir == nullptr) {
        if (listed >= 0) {
            ::close(listed);
        }
        return false;
    }
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        FolderEntry::Kind kind = FolderEntry::Kind::File;
        if (name != "." && name != ".." &&
            kind_of(folder.handle(), entry->d_name, entry->d_type, kind)) {
            entries.push_back({name, kind});
        }
    }
    ::closedir(dir);
#endif
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return true;
}

bool matches_pattern(const std::u16string& name, const std::u16string& pattern) {
    const auto fold = [](char16_t c) { return ascii_lower(c); };
    std::size_t n = 0;
    std::size_t p = 0;
    std::size_t star = std::u16string::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || fold(pattern[p]) == fold(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            star = p++;
            resume = n;
        } else if (star != std::u16string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<std::string> expand_pattern(const std::string& name,
                                        [[maybe_unused]] bool folders_too) {
#ifdef _WIN32
    const std::string pattern = last_part(name);
    std::vector<FolderEntry> entries;
    const std::shared_ptr<const Folder> folder =
        pattern.find_first_of("*?") == std::string::npos
            ? nullptr
            : Folder::open(Folder::current(), dirname(name).empty() ? "." : dirname(name), true);
    if (!folder || !list_folder(*folder, entries)) {
        return {name};
    }
    // The system matches short 8.3 names too, and folders: only files whose own names match.
    const auto folded = [](const std::string& text) {
        std::wstring units = wide(text);
        CharUpperBuffW(units.data(), static_cast<DWORD>(units.size()));
        return std::u16string(units.begin(), units.end());
    };
    const std::u16string wanted = folded(pattern);
    std::vector<std::string> matches;
    for (const FolderEntry& entry : entries) {
        if ((entry.kind == FolderEntry::Kind::File || folders_too) &&
            matches_pattern(folded(entry.name), wanted)) {
            matches.push_back(dirname(name) + entry.name);
        }
    }
    return matches.empty() ? std::vector<std::string>{name} : matches;
#else
    return {name};
#endif
}

}  // namespace varnel::platform
