#include "platform/console.hpp"

#include <algorithm>
#include <limits>
#include <new>
#include <thread>

#include "platform/text.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h, which they build on.
#include <shellapi.h>
#include <tlhelp32.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace varnel::platform {

void open_missing_standard_streams() {
#ifndef _WIN32
    // The lowest free descriptor is the one opened: 0, 1 and 2 in turn.
    for (int stream = 0; stream < 3; ++stream) {
        if (::fcntl(stream, F_GETFD) < 0 && errno == EBADF) {
            ::open("/dev/null", O_RDWR | O_NOCTTY);
        }
    }
#endif
}

std::vector<std::string> program_arguments([[maybe_unused]] int argc,
                                           [[maybe_unused]] char** argv) {
#ifdef _WIN32
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (words == nullptr) {
        throw std::bad_alloc();
    }
    try {
        for (int i = 1; i < count; ++i) {
            arguments.push_back(narrow(words[i]));
        }
    } catch (...) {
        LocalFree(words);
        throw;
    }
    LocalFree(words);
    return arguments;
#else
    return {argv + std::min(argc, 1), argv + argc};
#endif
}

unsigned processor_count() {
    return std::max(1u, std::thread::hardware_concurrency());
}

unsigned workers_within_file_limit() {
#ifndef _WIN32
    // Each conversion holds its input and its new file open, and a template, a path.ini, a
    // folder or the output it keeps the header of for a moment, and the batch keeps up to two
    // more folders open for each worker's jobs to come. The standard streams, the C library, a
    // walk through a tree (its root and its last few levels) and a watch take the rest.
    constexpr rlim_t kPerWorker = 5;
    constexpr rlim_t kOwn = 16;
    struct rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const rlim_t workers =
            limit.rlim_cur > kOwn + kPerWorker ? (limit.rlim_cur - kOwn) / kPerWorker : 1;
        return static_cast<unsigned>(
            std::min<rlim_t>(workers, std::numeric_limits<unsigned>::max()));
    }
#endif
    return std::numeric_limits<unsigned>::max();
}

void print_text(std::FILE* out, const std::string& text) {
#ifdef _WIN32
    const HANDLE console = GetStdHandle(STD_OUTPUT_HANDLE);
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
    std::fputs(text_in_code_page(text, console_page != 0 ? console_page : GetACP()).c_str(), out);
#else
    std::fputs(text.c_str(), out);
#endif
    std::fflush(out);
}

bool is_explorer(const std::string& program) {
    const std::string name = "explorer.exe";
    return std::equal(program.begin(), program.end(), name.begin(), name.end(),
                      [](char a, char b) { return ascii_lower(a) == b; });
}

bool started_from_explorer() {
#ifdef _WIN32
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    // The parent's number, then its program's name.
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    std::string parent_name;
    for (int pass = 0; pass < 2; ++pass) {
        PROCESSENTRY32W entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32FirstW(snapshot, &entry); more;
             more = Process32NextW(snapshot, &entry)) {
            if (pass == 0 && entry.th32ProcessID == self) {
                parent = entry.th32ParentProcessID;
            } else if (pass == 1 && entry.th32ProcessID == parent) {
                parent_name = narrow(entry.szExeFile);
            }
        }
    }
    CloseHandle(snapshot);
    return is_explorer(parent_name);
#else
    return false;
#endif
}

void wait_for_a_key_if_started_from_explorer() {
#ifdef _WIN32
    DWORD processes[2];
    DWORD mode = 0;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    // Only a console of its own, as Explorer opens for a program it starts: never under a console,
    // a script, the task scheduler or with the streams redirected.
    if (GetConsoleProcessList(processes, 2) != 1 || GetConsoleMode(input, &mode) == 0 ||
        GetConsoleMode(output, &mode) == 0 || !started_from_explorer()) {
        return;
    }
    print_text(stdout, "\nPress a key to close this window.\n");
    FlushConsoleInputBuffer(input);
    INPUT_RECORD event{};
    DWORD read = 0;
    while (ReadConsoleInputW(input, &event, 1, &read) != 0 &&
           !(event.EventType == KEY_EVENT && event.Event.KeyEvent.bKeyDown)) {
    }
#endif
}

}  // namespace varnel::platform
