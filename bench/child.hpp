// Runs one program as a child process and measures it the way a user's shell would see it.
// Linux only: fork, exec and wait4 give the wall time and the child's peak resident set.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ChildRun {
    bool started = false;
    bool exited = false;
    int exit_status = -1;
    double seconds = 0;
    double peak_rss_mib = 0;
};

// Runs arguments[0] with the given arguments in the folder, standard output and standard error
// going to the two files. The clock runs from just before fork to the return of wait4.
ChildRun run_child(const std::vector<std::string>& arguments, const std::string& folder,
                   const std::string& stdout_path, const std::string& stderr_path);

// The benchmark's own peak resident set: a forked child's peak RSS is never reported below it.
double own_peak_rss_mib();

}  // namespace bench
