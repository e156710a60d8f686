#include "platform/names.hpp"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/text.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>
#endif

namespace varnel::platform {

namespace {

bool starts_with(const std::string& text, const char* start) {
    return text.rfind(start, 0) == 0;
}

#ifdef _WIN32
// The full path the system makes of a name; false where it makes none.
bool full_wide_path(const std::wstring& name, std::wstring& full) {
    const DWORD size = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    full.assign(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetFullPathNameW(name.c_str(), size, full.data(), nullptr);
    full.resize(length < size ? length : 0);
    return length > 0 && length < size;
}

// A \\?\ name with every part that exists in its long form, as the folder's listing holds it.
// GetLongPathNameW would do it on Windows, but Wine's hands \\?\ names back unchanged; and "."
// and ".." go, which the \\?\ form leaves to the program.
std::wstring long_parts(const std::wstring& name) {
    std::size_t root = std::wstring::npos;
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        const std::size_t server_end = name.find(L'\\', 8);
        root = server_end == std::wstring::npos ? server_end : name.find(L'\\', server_end + 1);
    } else if (name.rfind(L"\\\\?\\", 0) == 0 && name.size() >= 7 && name[5] == L':') {
        root = 6;
    }
    if (root == std::wstring::npos) {
        return name;
    }
    std::wstring path = name.substr(0, root + 1);
    bool found_so_far = true;
    for (std::size_t start = root + 1; start < name.size();) {
        const std::size_t end = std::min(name.find(L'\\', start), name.size());
        std::wstring part = name.substr(start, end - start);
        start = end + 1;
        if (part.empty() || part == L".") {
            continue;
        }
        if (part == L"..") {
            if (path.size() > root + 1) {
                path.resize(path.find_last_of(L'\\', path.size() - 2) + 1);
            }
            continue;
        }
        // A name that is not there, or would match others, stays as it is given.
        WIN32_FIND_DATAW entry{};
        const HANDLE search = !found_so_far || part.find_first_of(L"*?") != std::wstring::npos
                                  ? INVALID_HANDLE_VALUE
                                  : FindFirstFileExW((path + part).c_str(), FindExInfoBasic, &entry,
                                                     FindExSearchNameMatch, nullptr, 0);
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
            part = entry.cFileName;
        }
        found_so_far = search != INVALID_HANDLE_VALUE;
        path += part + L"\\";
    }
    if (path.size() > root + 1 && name.back() != L'\\') {
        path.pop_back();
    }
    return path;
}
#endif

}  // namespace

std::string long_path_form(const std::string& full_path) {
    if (starts_with(full_path, "\\\\?\\") || starts_with(full_path, "\\\\.\\") ||
        starts_with(full_path, "\\??\\")) {
        return full_path;
    }
    if (starts_with(full_path, "\\\\")) {
        return "\\\\?\\UNC\\" + full_path.substr(2);
    }
    const bool drive = full_path.size() >= 3 && full_path[1] == ':' && full_path[2] == '\\' &&
                       ((full_path[0] >= 'A' && full_path[0] <= 'Z') ||
                        (full_path[0] >= 'a' && full_path[0] <= 'z'));
    return drive ? "\\\\?\\" + full_path : full_path;
}

SystemName system_name(const std::string& name) {
#ifdef _WIN32
    const std::wstring typed = wide(name);
    if (name.empty() || starts_with(name, "\\\\?\\") || starts_with(name, "\\\\.\\")) {
        return typed;
    }
    std::wstring full;
    return full_wide_path(typed, full) ? wide(long_path_form(narrow(full))) : typed;
#else
    return name;
#endif
}

std::string dirname(const std::string& path) {
    const std::size_t last = path.find_last_of(kSeparators);
    return last == std::string::npos ? std::string() : path.substr(0, last + 1);
}

std::string last_part(const std::string& path) {
    const std::size_t last = path.find_last_of(kSeparators);
    return last == std::string::npos ? path : path.substr(last + 1);
}

bool current_directory(std::string& path) {
#ifdef _WIN32
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(size, L'\0');
    const DWORD length = size == 0 ? 0 : GetCurrentDirectoryW(size, directory.data());
    if (length == 0 || length >= size) {
        return false;
    }
    directory.resize(length);
    path = narrow(directory);
    return true;
#else
    std::vector<char> buffer(4096);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr) {
            path = buffer.data();
            return true;
        }
        if (errno != ERANGE || buffer.size() >= (std::size_t{1} << 20)) {
            return false;
        }
        buffer.resize(buffer.size() * 2);
    }
#endif
}

bool full_path(const std::string& folder, std::string& path) {
#ifdef _WIN32
    std::wstring full;
    if (starts_with(folder, "\\\\?\\")) {
        // Exact as it stands: the system's full path would drop trailing dots and spaces.
        full = long_parts(wide(folder));
        full = full.rfind(L"\\\\?\\UNC\\", 0) == 0 ? L"\\" + full.substr(7) : full.substr(4);
    } else if (!full_wide_path(wide(folder), full)) {
        return false;
    }
    // A folder's path ends in a separator only at a drive's root.
    if (full.size() > 3 && (full.back() == L'\\' || full.back() == L'/')) {
        full.pop_back();
    }
    path = narrow(full);
    return true;
#else
    char* resolved = ::realpath(folder.empty() ? "." : folder.c_str(), nullptr);
    if (resolved == nullptr) {
        return false;
    }
    path = resolved;
    ::free(resolved);
    return true;
#endif
}

bool is_absolute(const std::string& name) {
#ifdef _WIN32
    return starts_with(name, "\\\\") || starts_with(name, "//") ||
           (name.size() >= 3 && name[1] == ':' && (name[2] == '\\' || name[2] == '/'));
#else
    return starts_with(name, "/");
#endif
}

ExactName exact_name(const std::string& full_name) {
#ifdef _WIN32
    std::string separated = full_name;
    std::replace(separated.begin(), separated.end(), '/', '\\');
    const std::string exact = narrow(long_parts(wide(long_path_form(separated))));
    const std::string shown = exact.rfind("\\\\?\\UNC\\", 0) == 0 ? "\\" + exact.substr(7)
                              : exact.rfind("\\\\?\\", 0) == 0    ? exact.substr(4)
                                                                  : exact;
    return {shown, exact};
#else
    return {full_name, full_name};
#endif
}

bool within(const std::string& outer, const std::string& inner, std::string& below) {
    const bool ends =
        !outer.empty() && (outer.back() == '/' || outer.back() == kDirectorySeparator);
    const std::string base = ends ? outer : outer + kDirectorySeparator;
    const std::string start = inner.size() + 1 == base.size() ? inner + kDirectorySeparator
                                                              : inner.substr(0, base.size());
    const bool same = start.size() == base.size() &&
                      std::equal(start.begin(), start.end(), base.begin(), [](char a, char b) {
#ifdef _WIN32
                          return ascii_lower(a) == ascii_lower(b);
#else
            return a == b;
#endif
                      });
    below = same && inner.size() > base.size() ? inner.substr(base.size()) : std::string();
    return same;
}

std::string in_folder(const std::string& folder, const std::string& name) {
    if (folder.empty() || is_absolute(name)) {
        return name;
    }
#ifdef _WIN32
    // A name that starts with a backslash is at the root of the folder's drive; "D:tpl" is in
    // the current folder of drive D.
    if (starts_with(name, "\\") || starts_with(name, "/")) {
        return folder.size() >= 2 && folder[1] == ':' ? folder.substr(0, 2) + name : name;
    }
    if (name.size() >= 2 && name[1] == ':') {
        return name;
    }
#endif
    const char last = folder.back();
    return last == '/' || last == kDirectorySeparator ? folder + name
                                                      : folder + kDirectorySeparator + name;
}

}  // namespace varnel::platform
