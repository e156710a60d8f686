// Stands in for a virus scanner, an indexer or a sync client in the Wine checks: programs that open
// a file as soon as it has been closed. Until its standard input ends, it opens each new
// .varnel-*.tmp file that appears in the folder named, sharing reading and writing but not
// deletion, for 2 ms every 3 ms. It prints "ready" once it watches, and at the end how many new
// files it held at least once.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<bool> g_stop{false};

void wait_for_end_of_input() {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char byte = 0;
    DWORD got = 0;
    while (ReadFile(input, &byte, 1, &got, nullptr) != 0 && got > 0) {
    }
    g_stop.store(true);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fputs("Usage: holder FOLDER\n", stderr);
        return 2;
    }
    const std::wstring folder = std::wstring(argv[1]) + L"\\";
    std::thread(wait_for_end_of_input).detach();
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    std::set<std::wstring> held;
    std::vector<HANDLE> open;
    while (!g_stop.load()) {
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW((folder + L".varnel-*.tmp").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more;
             more = FindNextFileW(search, &found)) {
            const std::wstring name = found.cFileName;
            const auto try_to_open = [&] {
                return CreateFileW((folder + name).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
            };
            HANDLE file = try_to_open();
            // A new file that its writer still has open, not sharing it, is tried again at once,
            // so as to have it the moment it is closed.
            while (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION &&
                   held.count(name) == 0 && !g_stop.load()) {
                file = try_to_open();
            }
            if (file != INVALID_HANDLE_VALUE) {
                open.push_back(file);
                held.insert(name);
            }
        }
        if (search != INVALID_HANDLE_VALUE) {
            FindClose(search);
        }
        if (!open.empty()) {
            Sleep(2);
            for (const HANDLE file : open) {
                CloseHandle(file);
            }
            open.clear();
            Sleep(1);
        }
    }
    std::printf("held %u\n", static_cast<unsigned>(held.size()));
    return 0;
}
