#include "platform/platform.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which it builds on.
#include <shellapi.h>

#include <new>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pthread.h>

#include <cerrno>
#include <csignal>
#endif

namespace varnel::platform {

namespace {

// Names of files being written, for an interruption to remove. Each slot is taken and given
// back with an atomic exchange, so that the interruption, which may come at any moment and on
// any thread, and the thread that owns the name never both free it.
constexpr int kUnfinishedSlots = static_cast<int>(kMostUnfinishedFiles);
std::atomic<char*> g_unfinished[kUnfinishedSlots];

// Threads between tracking a new file and having it, and whether an interruption is ending the
// process: an interruption waits for the first to come to none, and once it has begun no new file
// is made, so that it finds every new file there is.
std::atomic<int> g_creating{0};
std::atomic<bool> g_ending{false};

void stop_new_files() {
    g_ending.store(true);
    while (g_creating.load() > 0) {
    }
}

struct Creating {
    Creating() {
        ++g_creating;
    }
    ~Creating() {
        --g_creating;
    }
    Creating(const Creating&) = delete;
    Creating& operator=(const Creating&) = delete;
};

// A slot for the name until untrack_unfinished_file; -1 when every slot is taken.
int track_unfinished_file(const std::string& name) {
    for (int slot = 0; slot < kUnfinishedSlots; ++slot) {
        char* expected = nullptr;
        if (g_unfinished[slot].load() != nullptr) {
            continue;
        }
        char* copy = new char[name.size() + 1];
        std::memcpy(copy, name.c_str(), name.size() + 1);
        if (g_unfinished[slot].compare_exchange_strong(expected, copy)) {
            return slot;
        }
        delete[] copy;
    }
    return -1;
}

}  // namespace

unsigned processor_count() {
    return std::max(1u, std::thread::hardware_concurrency());
}

void untrack_unfinished_file(int slot) {
    if (slot >= 0 && slot < kUnfinishedSlots) {
        delete[] g_unfinished[slot].exchange(nullptr);
    }
}

File::File(File&& other) noexcept : handle(other.handle) {
    other.handle = File::kNone;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close_file(*this);
        handle = other.handle;
        other.handle = File::kNone;
    }
    return *this;
}

File::~File() {
    close_file(*this);
}

bool is_open(const File& file) {
    return file.handle != File::kNone;
}

#ifdef _WIN32

namespace {

// A single read or write of a DWORD count; pieces of 1 GiB keep every count far below its limit.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

// Names are UTF-8 inside the program and UTF-16 for the system, so that every name Windows can
// store reaches the file it names.
std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, text.data(), length, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), length, result.data(), wide_length);
    return result;
}

// The text in a code page, '?' for what it cannot show: never a character that only looks alike
// (best fit would turn a full-width w into w, and so one name into another).
std::string in_code_page(const std::wstring& text, UINT code_page) {
    if (text.empty()) {
        return {};
    }
    const bool utf8 = code_page == CP_UTF8;
    const DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    const char* fallback = utf8 ? nullptr : "?";
    const int length = static_cast<int>(text.size());
    const int narrow_length =
        WideCharToMultiByte(code_page, flags, text.data(), length, nullptr, 0, fallback, nullptr);
    std::string result(static_cast<std::size_t>(narrow_length), '\0');
    WideCharToMultiByte(code_page, flags, text.data(), length, result.data(), narrow_length,
                        fallback, nullptr);
    return result;
}

std::string utf8(const std::wstring& text) {
    return in_code_page(text, CP_UTF8);
}

HANDLE checked(HANDLE handle) {
    return handle == INVALID_HANDLE_VALUE ? nullptr : handle;
}

OVERLAPPED at_offset(std::uint64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    position.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return position;
}

bool identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) {
    return handle != nullptr && GetFileInformationByHandle(handle, &info) != 0;
}

// Opens a name only to ask what file it is; a link is not followed.
HANDLE open_for_identity(const std::string& name) {
    return checked(CreateFileW(
        wide(name).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool same_identity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

}  // namespace

bool close_file(File& file) {
    if (!is_open(file)) {
        return true;
    }
    const bool closed = CloseHandle(file.handle) != 0;
    file.handle = File::kNone;
    return closed;
}

OpenResult open_for_reading(const std::string& name, File& file) {
    const std::wstring path = wide(name);
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        // Names that no file can bear are missing too.
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                       error == ERROR_INVALID_NAME || error == ERROR_FILENAME_EXCED_RANGE ||
                       error == ERROR_INVALID_DRIVE || error == ERROR_BAD_NETPATH
                   ? OpenResult::Missing
                   : OpenResult::Failed;
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return OpenResult::NotRegular;
    }
    HANDLE handle = checked(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle == nullptr) {
        return OpenResult::Failed;
    }
    file.handle = handle;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        close_file(file);
        return OpenResult::NotRegular;
    }
    return OpenResult::Opened;
}

bool file_size(const File& file, std::uint64_t& size) {
    LARGE_INTEGER length{};
    if (GetFileSizeEx(file.handle, &length) == 0 || length.QuadPart < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

std::size_t read_at(const File& file, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        OVERLAPPED position = at_offset(offset + done);
        const auto piece = static_cast<DWORD>(std::min(n - done, kLargestPiece));
        DWORD got = 0;
        if (ReadFile(file.handle, out + done, piece, &got, &position) == 0 || got == 0) {
            break;
        }
        done += got;
    }
    return done;
}

bool write_at(const File& file, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        OVERLAPPED position = at_offset(offset + done);
        const auto piece = static_cast<DWORD>(std::min(n - done, kLargestPiece));
        DWORD wrote = 0;
        if (WriteFile(file.handle, bytes + done, piece, &wrote, &position) == 0 || wrote == 0) {
            return false;
        }
        done += wrote;
    }
    return true;
}

bool resolve_link(const std::string& name, std::string& target) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path path(wide(name));
    if (!fs::is_symlink(fs::symlink_status(path, ec))) {
        target = name;
        return true;
    }
    const fs::path resolved = fs::weakly_canonical(path, ec);
    if (ec) {
        return false;
    }
    target = utf8(resolved.native());
    return true;
}

Existing inspect_existing(const std::string& name) {
    Existing existing;
    const std::wstring path = wide(name);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) == 0) {
        return existing;
    }
    existing.exists = true;
    existing.mode = data.dwFileAttributes;
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0) {
        return existing;
    }
    // Another program that holds the file open without sharing it for writing keeps it.
    HANDLE probe =
        checked(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe != nullptr) {
        existing.replaceable = GetFileType(probe) == FILE_TYPE_DISK;
        CloseHandle(probe);
    }
    return existing;
}

std::string beside(const std::string& path, const std::string& file_name) {
    const std::size_t last = path.find_last_of("\\/:");
    return last == std::string::npos ? file_name : path.substr(0, last + 1) + file_name;
}

namespace {

bool open_new_file(const std::string& name, File& file) {
    file.handle =
        checked(CreateFileW(wide(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    return is_open(file);
}

// The console's events come on a thread of their own, never on one that makes a file.
struct InterruptionsHeld {};

}  // namespace

void reserve_space(const File&, std::uint64_t) {}

// A replaced file was writable, so there is no read-only mark to carry over; owners and access
// lists of new files follow the folder's.
void copy_access(const File&, const Existing&) {}

bool names_file(const std::string& name, const File& file) {
    HANDLE by_name = open_for_identity(name);
    BY_HANDLE_FILE_INFORMATION named{};
    BY_HANDLE_FILE_INFORMATION open{};
    const bool same =
        identity(by_name, named) && identity(file.handle, open) && same_identity(named, open);
    if (by_name != nullptr) {
        CloseHandle(by_name);
    }
    return same;
}

bool rename_file(const std::string& from, const std::string& to) {
    return MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void remove_file(const std::string& name) {
    DeleteFileW(wide(name).c_str());
}

bool same_file(const std::string& a, const std::string& b) {
    std::error_code ec;
    return std::filesystem::equivalent(std::filesystem::path(wide(a)),
                                       std::filesystem::path(wide(b)), ec);
}

std::string comparable_path(const std::string& name) {
    std::error_code ec;
    std::wstring path = std::filesystem::weakly_canonical(
                            std::filesystem::absolute(std::filesystem::path(wide(name)), ec), ec)
                            .native();
    if (!path.empty()) {
        CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    }
    return utf8(path);
}

namespace {

// Runs on a thread of its own. The new files were opened for deleting too: each goes once the
// process has closed it, which it does on its way out.
BOOL WINAPI remove_unfinished_and_end(DWORD event) {
    stop_new_files();
    for (std::atomic<char*>& slot : g_unfinished) {
        if (char* name = slot.exchange(nullptr)) {
            DeleteFileW(wide(name).c_str());
        }
    }
    ExitProcess(event == CTRL_C_EVENT ? static_cast<UINT>(STATUS_CONTROL_C_EXIT) : 1u);
}

}  // namespace

void remove_unfinished_files_on_interrupt() {
    SetConsoleCtrlHandler(remove_unfinished_and_end, TRUE);
}

bool current_directory(std::string& path) {
    const DWORD length = GetCurrentDirectoryW(0, nullptr);
    if (length == 0) {
        return false;
    }
    std::wstring directory(length, L'\0');
    const DWORD written = GetCurrentDirectoryW(length, directory.data());
    if (written == 0 || written >= length) {
        return false;
    }
    directory.resize(written);
    path = utf8(directory);
    return true;
}

std::vector<std::string> program_arguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        throw std::bad_alloc();
    }
    try {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(utf8(words[i]));
        }
    } catch (...) {
        LocalFree(words);
        throw;
    }
    LocalFree(words);
    return arguments;
}

std::vector<std::string> expand_pattern(const std::string& name) {
    if (name.find_first_of("*?") == std::string::npos) {
        return {name};
    }
    std::vector<std::string> matches;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileExW(wide(name).c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        // The folder part as typed, before the matching names.
        const std::string folder = beside(name, "");
        do {
            const std::wstring match = found.cFileName;
            const bool hidden =
                (found.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) != 0;
            if (match != L"." && match != L".." && !hidden) {
                matches.push_back(folder + utf8(match));
            }
        } while (FindNextFileW(search, &found) != 0);
        FindClose(search);
    }
    if (matches.empty()) {
        return {name};
    }
    std::sort(matches.begin(), matches.end());
    return matches;
}

std::string header_text(const std::string& text) {
    return in_code_page(wide(text), CP_ACP);
}

void print_text(std::FILE* out, const std::string& text) {
    HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (out == stdout && console != nullptr && console != INVALID_HANDLE_VALUE &&
        GetConsoleMode(console, &mode) != 0) {
        // On the console itself every character shows as it is.
        std::fflush(out);
        std::wstring lines;
        for (const wchar_t c : wide(text)) {
            lines += c == L'\n' ? std::wstring(L"\r\n") : std::wstring(1, c);
        }
        DWORD written = 0;
        WriteConsoleW(console, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
        return;
    }
    // Redirected: in the code page the console shows text in, or without a console the ANSI one.
    const UINT console_page = GetConsoleOutputCP();
    std::fputs(in_code_page(wide(text), console_page != 0 ? console_page : GetACP()).c_str(), out);
    std::fflush(out);
}

void wait_for_a_key_if_alone_on_the_console() {
    DWORD processes[2];
    DWORD mode = 0;
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    // Only a console of its own, as Explorer opens for a program started from it; never when a
    // console, a script or a redirection started it.
    if (GetConsoleProcessList(processes, 2) != 1 || GetConsoleMode(input, &mode) == 0 ||
        GetConsoleMode(output, &mode) == 0) {
        return;
    }
    print_text(stdout, "\nPress a key to close this window.\n");
    FlushConsoleInputBuffer(input);
    INPUT_RECORD event{};
    DWORD read = 0;
    while (ReadConsoleInputW(input, &event, 1, &read) != 0 &&
           !(event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown)) {
    }
}

#else

namespace {

// A single read or write of at most 1 GiB: POSIX systems differ in the largest count they take.
constexpr std::size_t kLargestPiece = std::size_t{1} << 30;

constexpr int kNoTerminal = O_CLOEXEC | O_NOCTTY;

bool exists_as_non_regular(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0 && !S_ISREG(info.st_mode);
}

}  // namespace

bool close_file(File& file) {
    if (!is_open(file)) {
        return true;
    }
    const bool closed = ::close(file.handle) == 0 || errno == EINTR;
    file.handle = File::kNone;
    return closed;
}

OpenResult open_for_reading(const std::string& name, File& file) {
    // Without O_NONBLOCK, opening a pipe would wait for a writer.
    const int fd = ::open(name.c_str(), O_RDONLY | O_NONBLOCK | kNoTerminal);
    if (fd < 0) {
        // Names that no file can bear are missing too.
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) {
            return OpenResult::Missing;
        }
        return exists_as_non_regular(name) ? OpenResult::NotRegular : OpenResult::Failed;
    }
    file.handle = fd;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close_file(file);
        return OpenResult::NotRegular;
    }
    return OpenResult::Opened;
}

bool file_size(const File& file, std::uint64_t& size) {
    struct stat info {};
    if (::fstat(file.handle, &info) != 0 || info.st_size < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

std::size_t read_at(const File& file, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const std::uint64_t at = offset + done;
        if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            break;
        }
        const ssize_t got = ::pread(file.handle, out + done, std::min(n - done, kLargestPiece),
                                    static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return done;
}

bool write_at(const File& file, std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const std::uint64_t at = offset + done;
        if (at > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
            return false;
        }
        const ssize_t wrote = ::pwrite(file.handle, bytes + done, std::min(n - done, kLargestPiece),
                                       static_cast<off_t>(at));
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

bool resolve_link(const std::string& name, std::string& target) {
    struct stat info {};
    if (::lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        target = name;
        return true;
    }
    std::error_code ec;
    target = std::filesystem::weakly_canonical(name, ec).native();
    return !ec;
}

Existing inspect_existing(const std::string& name) {
    Existing existing;
    struct stat info {};
    if (::stat(name.c_str(), &info) != 0) {
        return existing;
    }
    existing.exists = true;
    existing.mode = static_cast<std::uint32_t>(info.st_mode & 07777);
    existing.owner = static_cast<std::uint32_t>(info.st_uid);
    existing.group = static_cast<std::uint32_t>(info.st_gid);
    // A file without any write permission bit is read-only by the user's wish, even for root,
    // who could write it anyway.
    if (!S_ISREG(info.st_mode) || (info.st_mode & 0222) == 0) {
        return existing;
    }
    // Opened for writing only, and not truncated: a write-only file is as replaceable as any.
    const int probe = ::open(name.c_str(), O_WRONLY | O_NONBLOCK | kNoTerminal);
    if (probe >= 0) {
        existing.replaceable = true;
        ::close(probe);
    }
    return existing;
}

std::string beside(const std::string& path, const std::string& file_name) {
    const std::size_t last = path.rfind('/');
    return last == std::string::npos ? file_name : path.substr(0, last + 1) + file_name;
}

namespace {

// The signals that end a process unless it handles them, and that a user or a system sends to
// stop a program.
constexpr int kInterruptionSignals[] = {SIGHUP,  SIGINT,  SIGQUIT,   SIGPIPE, SIGALRM, SIGTERM,
                                        SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU};

bool open_new_file(const std::string& name, File& file) {
    file.handle =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kNoTerminal, 0666);
    return is_open(file);
}

// An interruption that comes while this thread makes a file waits until it is made, so that the
// interruption never waits for this thread while running on it.
struct InterruptionsHeld {
    sigset_t before{};
    InterruptionsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (const int signal : kInterruptionSignals) {
            sigaddset(&held, signal);
        }
        ::pthread_sigmask(SIG_BLOCK, &held, &before);
    }
    ~InterruptionsHeld() {
        ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }
    InterruptionsHeld(const InterruptionsHeld&) = delete;
    InterruptionsHeld& operator=(const InterruptionsHeld&) = delete;
};

}  // namespace

void reserve_space([[maybe_unused]] const File& file, [[maybe_unused]] std::uint64_t size) {
#ifdef __linux__
    // Only where the file system can do it at once: posix_fallocate would write zeros instead.
    if (size <= static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        [[maybe_unused]] const int reserved =
            ::fallocate(file.handle, 0, 0, static_cast<off_t>(size));
    }
#endif
}

void copy_access(const File& file, const Existing& existing) {
    if (!existing.exists) {
        return;
    }
    // Only root may give a file away; anyone may keep the group where they belong to it. The
    // mode comes last, since a change of owner clears the set-user-ID and set-group-ID bits.
    const auto owner = static_cast<uid_t>(existing.owner);
    const auto group = static_cast<gid_t>(existing.group);
    if (::fchown(file.handle, owner, group) != 0) {
        [[maybe_unused]] const int kept_group =
            ::fchown(file.handle, static_cast<uid_t>(-1), group);
    }
    ::fchmod(file.handle, static_cast<mode_t>(existing.mode));
}

bool names_file(const std::string& name, const File& file) {
    struct stat named {};
    struct stat open {};
    return ::lstat(name.c_str(), &named) == 0 && ::fstat(file.handle, &open) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

bool rename_file(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0;
}

void remove_file(const std::string& name) {
    ::unlink(name.c_str());
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat first {};
    struct stat second {};
    return ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0 &&
           first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

std::string comparable_path(const std::string& name) {
    std::error_code ec;
    return std::filesystem::weakly_canonical(std::filesystem::absolute(name, ec), ec).native();
}

namespace {

// Only calls that are safe in a signal handler are made.
extern "C" void remove_unfinished_and_end(int signal) {
    stop_new_files();
    for (std::atomic<char*>& slot : g_unfinished) {
        if (char* name = slot.exchange(nullptr)) {
            ::unlink(name);
        }
    }
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(signal, &standard, nullptr);
    ::raise(signal);
}

}  // namespace

void remove_unfinished_files_on_interrupt() {
    struct sigaction handler {};
    handler.sa_handler = remove_unfinished_and_end;
    sigemptyset(&handler.sa_mask);
    for (const int signal : kInterruptionSignals) {
        sigaddset(&handler.sa_mask, signal);
    }
    for (const int signal : kInterruptionSignals) {
        struct sigaction before {};
        // A signal the caller chose to ignore (nohup, a background job) stays ignored.
        if (::sigaction(signal, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            ::sigaction(signal, &handler, nullptr);
        }
    }
    // Beyond a file-size limit a write then fails, and is reported, instead of ending the process.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ::sigaction(SIGXFSZ, &ignore, nullptr);
}

bool current_directory(std::string& path) {
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
}

std::vector<std::string> program_arguments(int argc, char** argv) {
    return {argv + std::min(argc, 1), argv + argc};
}

// The shell has expanded patterns already.
std::vector<std::string> expand_pattern(const std::string& name) {
    return {name};
}

std::string header_text(const std::string& text) {
    return text;
}

void print_text(std::FILE* out, const std::string& text) {
    std::fputs(text.c_str(), out);
    std::fflush(out);
}

void wait_for_a_key_if_alone_on_the_console() {}

#endif

bool create_new_file(const std::string& name, File& file, int& tracked) {
    [[maybe_unused]] const InterruptionsHeld held;
    const Creating creating;
    tracked = -1;
    if (g_ending.load()) {
        return false;
    }
    tracked = track_unfinished_file(name);
    if (!open_new_file(name, file)) {
        untrack_unfinished_file(tracked);
        tracked = -1;
        return false;
    }
    return true;
}

}  // namespace varnel::platform
