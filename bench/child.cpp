#include "child.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace bench {

namespace {

// ru_maxrss is in KiB on Linux.
double kib_to_mib(long kib) {
    return static_cast<double>(kib) / 1024.0;
}

// Between fork and exec only async-signal-safe calls are allowed: everything the child needs is
// prepared before the fork.
[[noreturn]] void become_child(const char* folder, const char* stdout_path, const char* stderr_path,
                               char* const* argv) {
    const int out = open(stdout_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(stderr_path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (chdir(folder) != 0 || out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
        _exit(126);
    }
    close(out);
    close(err);
    execv(argv[0], argv);
    _exit(127);
}

}  // namespace

ChildRun run_child(const std::vector<std::string>& arguments, const std::string& folder,
                   const std::string& stdout_path, const std::string& stderr_path) {
    std::vector<std::string> storage = arguments;
    std::vector<char*> argv;
    for (std::string& a : storage) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);

    ChildRun result;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) {
        return result;
    }
    if (pid == 0) {
        become_child(folder.c_str(), stdout_path.c_str(), stderr_path.c_str(), argv.data());
    }
    int status = 0;
    rusage usage{};
    pid_t waited = 0;
    do {
        waited = wait4(pid, &status, 0, &usage);
    } while (waited < 0 && errno == EINTR);
    const auto end = std::chrono::steady_clock::now();
    if (waited != pid) {
        return result;
    }
    result.started = true;
    result.seconds = std::chrono::duration<double>(end - start).count();
    result.peak_rss_mib = kib_to_mib(usage.ru_maxrss);
    result.exited = WIFEXITED(status);
    result.exit_status = result.exited ? WEXITSTATUS(status) : -1;
    return result;
}

double own_peak_rss_mib() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return kib_to_mib(usage.ru_maxrss);
}

}  // namespace bench
