#include "watch.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "pictures.hpp"

namespace bench {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr double kTargetMs = 100;

// Waits for `name` to be moved into the watched folder; false after `milliseconds`.
bool moved_in(int inotify, const char* name, int milliseconds) {
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    alignas(inotify_event) char buffer[4096];
    while (Clock::now() < end) {
        pollfd waited{inotify, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (::poll(&waited, 1, static_cast<int>(std::max<long long>(left, 0))) <= 0) {
            continue;
        }
        const ssize_t got = ::read(inotify, buffer, sizeof buffer);
        for (ssize_t at = 0; at < got;) {
            inotify_event event;
            std::memcpy(&event, buffer + at, sizeof event);
            const bool ours = event.len > 0 && std::strcmp(buffer + at + sizeof event, name) == 0;
            at += static_cast<ssize_t>(sizeof event + event.len);
            if (ours && (event.mask & IN_MOVED_TO) != 0) {
                return true;
            }
        }
    }
    return false;
}

double percentile(std::vector<double> v, double p) {
    std::sort(v.begin(), v.end());
    return v[static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5)];
}

}  // namespace

bool benchmark_watch(const std::string& varnel, const std::string& scratch, int saves) {
    const fs::path folder = fs::path(scratch) / "watched";
    fs::create_directories(folder / "tex");
    fs::create_directories(folder / "tpl");
    std::ofstream(folder / "path.ini", std::ios::binary) << "tpl/";
    const std::vector<std::uint8_t> tpl = template_bytes();
    std::ofstream(folder / "tpl" / "1024x1024.m32", std::ios::binary)
        .write(reinterpret_cast<const char*>(tpl.data()), static_cast<std::streamsize>(tpl.size()));
    const std::string texture = (folder / "tex" / "wall.tga").string();
    const Picture picture{Encoding::Uncompressed24, 1024, 1024};
    if (!write_tga(picture, texture)) {
        return false;
    }
    std::ifstream saved(texture, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(saved)), {});

    const int inotify = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(inotify, (folder / "tex").c_str(), IN_MOVED_TO);
    const pid_t child = ::fork();
    if (child == 0) {
        const int quiet = ::open("/dev/null", O_WRONLY);
        ::dup2(quiet, 1);
        if (::chdir(folder.c_str()) == 0) {
            ::execl(varnel.c_str(), varnel.c_str(), "--watch", "tex", static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    // The first conversion, of what has no output yet, tells that the watch is on.
    bool right = moved_in(inotify, "wall.m32", 10000);
    std::vector<double> ms;
    for (int i = 0; i < saves && right; ++i) {
        ::usleep(200000);
        // An editor's save: the file opened, written in full, closed.
        const int out = ::open(texture.c_str(), O_WRONLY | O_TRUNC);
        const bool written = out >= 0 && ::write(out, bytes.data(), bytes.size()) ==
                                             static_cast<ssize_t>(bytes.size());
        if (out >= 0) {
            ::close(out);
        }
        const auto closed = Clock::now();
        right = written && moved_in(inotify, "wall.m32", 5000);
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - closed).count());
    }
    ::kill(child, SIGINT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(inotify);
    fs::remove_all(folder);
    if (!right || ms.empty()) {
        std::printf("\nwatch: a save of a 1024 x 1024 texture was not converted within 5 s\n");
        return false;
    }
    std::printf(
        "\nA save of a 1024 x 1024 24-bit texture in a folder varnel --watch watches, to its\n"
        "M32 file in place (%zu saves, ms): median %.1f, min %.1f, 10%% %.1f, 90%% %.1f, max "
        "%.1f; target %.0f: %s\nEach:",
        ms.size(), percentile(ms, 0.5), percentile(ms, 0), percentile(ms, 0.1), percentile(ms, 0.9),
        percentile(ms, 1), kTargetMs, percentile(ms, 0.5) <= kTargetMs ? "met" : "MISSED");
    for (const double m : ms) {
        std::printf(" %.1f", m);
    }
    std::printf("\nThe watch ended with status %d.\n",
                WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace bench
