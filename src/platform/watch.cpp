#include "platform/watch.hpp"

#include <algorithm>
#include <cstring>

#include "platform/interruptions.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "platform/text.hpp"
#else
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#endif
#ifdef __linux__
#include <sys/inotify.h>
#endif

namespace varnel::platform {

#ifdef _WIN32

// One folder's watch: its handle, and the read of its changes under way.
struct FolderWatch::Watched {
    HANDLE folder = INVALID_HANDLE_VALUE;
    bool tree = false;
    OVERLAPPED overlapped{};
    alignas(DWORD) std::uint8_t buffer[64 * 1024];

    bool read() {
        ResetEvent(overlapped.hEvent);
        return ReadDirectoryChangesW(folder, buffer, sizeof buffer, tree,
                                     FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME |
                                         FILE_NOTIFY_CHANGE_SIZE | FILE_NOTIFY_CHANGE_LAST_WRITE,
                                     nullptr, &overlapped, nullptr) != 0;
    }
};

FolderWatch::FolderWatch() = default;

// A read under way may still complete into the buffer: it is waited for before the buffer goes.
void FolderWatch::close(Watched& watched) {
    CancelIo(watched.folder);
    DWORD bytes = 0;
    GetOverlappedResult(watched.folder, &watched.overlapped, &bytes, TRUE);
    CloseHandle(watched.folder);
    CloseHandle(watched.overlapped.hEvent);
}

FolderWatch::~FolderWatch() {
    for (Watched* watched : watched_) {
        if (watched != nullptr) {
            close(*watched);
            delete watched;
        }
    }
}

bool FolderWatch::ready() const {
    return true;
}

FolderWatch::Added FolderWatch::add(const Folder& folder, const std::string&, bool tree, int& id) {
    // A wait takes at most 64 handles, the stop among them.
    const auto live = static_cast<std::size_t>(std::count_if(
        watched_.begin(), watched_.end(), [](const Watched* w) { return w != nullptr; }));
    if (live + 1 >= MAXIMUM_WAIT_OBJECTS) {
        return Added::Full;
    }
    auto* watched = new Watched;
    watched->tree = tree;
    watched->folder =
        CreateFileW(folder.system_name(".").c_str(), FILE_LIST_DIRECTORY,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    watched->overlapped.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watched->folder == INVALID_HANDLE_VALUE || watched->overlapped.hEvent == nullptr ||
        !watched->read()) {
        if (watched->folder != INVALID_HANDLE_VALUE) {
            CloseHandle(watched->folder);
        }
        if (watched->overlapped.hEvent != nullptr) {
            CloseHandle(watched->overlapped.hEvent);
        }
        delete watched;
        return Added::Failed;
    }
    id = static_cast<int>(watched_.size());
    watched_.push_back(watched);
    return Added::Yes;
}

void FolderWatch::remove(int id) {
    Watched*& watched = watched_[static_cast<std::size_t>(id)];
    if (watched != nullptr) {
        close(*watched);
        delete watched;
        watched = nullptr;
    }
}

bool FolderWatch::wait(int milliseconds, std::vector<Change>& changes) {
    changes.clear();
    std::vector<HANDLE> events{static_cast<HANDLE>(stop_event())};
    std::vector<int> ids{-1};
    for (std::size_t i = 0; i < watched_.size(); ++i) {
        if (watched_[i] != nullptr) {
            events.push_back(watched_[i]->overlapped.hEvent);
            ids.push_back(static_cast<int>(i));
        }
    }
    const DWORD woken =
        WaitForMultipleObjects(static_cast<DWORD>(events.size()), events.data(), FALSE,
                               milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
    if (stop_requested()) {
        return false;
    }
    if (woken < WAIT_OBJECT_0 + 1 || woken >= WAIT_OBJECT_0 + events.size()) {
        return true;
    }
    const int id = ids[woken - WAIT_OBJECT_0];
    Watched& watched = *watched_[static_cast<std::size_t>(id)];
    DWORD bytes = 0;
    const bool read = GetOverlappedResult(watched.folder, &watched.overlapped, &bytes, FALSE) != 0;
    if (!read || bytes == 0) {
        // The buffer overflowed, or the folder went.
        changes.push_back({read ? Change::Kind::Lost : Change::Kind::Gone, id, {}});
    }
    for (std::size_t at = 0; read && bytes > 0;) {
        const auto* notice = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(watched.buffer + at);
        const std::string name =
            narrow(std::wstring(notice->FileName, notice->FileNameLength / sizeof(wchar_t)));
        if (notice->Action != FILE_ACTION_REMOVED &&
            notice->Action != FILE_ACTION_RENAMED_OLD_NAME) {
            changes.push_back({Change::Kind::Changing, id, name});
        }
        if (notice->NextEntryOffset == 0) {
            break;
        }
        at += notice->NextEntryOffset;
    }
    if (!watched.read()) {
        changes.push_back({Change::Kind::Gone, id, {}});
    }
    return true;
}

bool FolderWatch::watches_trees() {
    return true;
}

bool FolderWatch::tells_closes() {
    return false;
}

const char* FolderWatch::limit() {
    return "varnel watches at most 63 folders and their trees at once; name fewer";
}

bool is_being_written(const Folder& folder, const std::string& name) {
    const HANDLE file = CreateFileW(folder.system_name(name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return GetLastError() == ERROR_SHARING_VIOLATION;
    }
    CloseHandle(file);
    return false;
}

#else

FolderWatch::FolderWatch() {
#ifdef __linux__
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
#endif
}

FolderWatch::~FolderWatch() {
    if (inotify_ >= 0) {
        ::close(inotify_);
    }
}

bool FolderWatch::ready() const {
    return inotify_ >= 0;
}

FolderWatch::Added FolderWatch::add([[maybe_unused]] const Folder& folder,
                                    [[maybe_unused]] const std::string& name, bool,
                                    [[maybe_unused]] int& id) {
#ifdef __linux__
    constexpr std::uint32_t kChanges = IN_CLOSE_WRITE | IN_MOVED_TO | IN_CREATE | IN_MODIFY |
                                       IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_EXCL_UNLINK;
    // The folder by its handle, however deep it lies; by its name where /proc is not there.
    const std::string by_handle =
        folder.is_current() ? "." : "/proc/self/fd/" + std::to_string(folder.handle());
    int watch = ::inotify_add_watch(inotify_, by_handle.c_str(), kChanges);
    if (watch < 0 && errno == ENOENT) {
        watch = ::inotify_add_watch(inotify_, name.c_str(), kChanges);
    }
    if (watch < 0) {
        return errno == ENOSPC ? Added::Full : Added::Failed;
    }
    id = watch;
    return Added::Yes;
#else
    return Added::Failed;
#endif
}

void FolderWatch::remove([[maybe_unused]] int id) {
#ifdef __linux__
    ::inotify_rm_watch(inotify_, id);
#endif
}

bool FolderWatch::wait(int milliseconds, std::vector<Change>& changes) {
    changes.clear();
    pollfd waited[2] = {{stop_descriptor(), POLLIN, 0}, {inotify_, POLLIN, 0}};
    while (::poll(waited, 2, milliseconds) < 0 && errno == EINTR) {
    }
    if (stop_requested()) {
        return false;
    }
#ifdef __linux__
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t got; (got = ::read(inotify_, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const std::string name =
                event.len > 0 ? std::string(buffer + at + sizeof event) : std::string();
            at += static_cast<ssize_t>(sizeof event + event.len);
            const bool folder = (event.mask & IN_ISDIR) != 0;
            if ((event.mask & IN_Q_OVERFLOW) != 0) {
                changes.push_back({Change::Kind::Lost, -1, {}});
            } else if ((event.mask & IN_MOVE_SELF) != 0) {
                changes.push_back({Change::Kind::Moved, event.wd, {}});
            } else if ((event.mask & (IN_DELETE_SELF | IN_IGNORED)) != 0) {
                changes.push_back({Change::Kind::Gone, event.wd, {}});
            } else if (folder && (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                changes.push_back({Change::Kind::FolderMade, event.wd, name});
            } else if (!folder && (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) != 0) {
                changes.push_back({Change::Kind::Written, event.wd, name});
            } else if (!folder && (event.mask & (IN_CREATE | IN_MODIFY)) != 0) {
                changes.push_back({Change::Kind::Changing, event.wd, name});
            }
        }
    }
#endif
    return true;
}

bool FolderWatch::watches_trees() {
    return false;
}

bool FolderWatch::tells_closes() {
    return true;
}

const char* FolderWatch::limit() {
    return "the system lets too few folders be watched for this tree; raise "
           "fs.inotify.max_user_watches";
}

bool is_being_written(const Folder&, const std::string&) {
    return false;
}

#endif

}  // namespace varnel::platform
