// varnel's benchmark. Linux-only tooling: it forks, times and reaps its children with POSIX calls.
//
//   varnel_bench VARNEL [BEFORE] makes the inputs in a scratch folder, runs VARNEL and the I/O
//                                floor (and BEFORE, another build to compare with) alternately
//                                on each, checks every byte of each conversion once, prints a
//                                table and removes the scratch folder
//   varnel_bench --floor IN OUT SIZE...   the I/O floor itself for one or more files (run as a
//                                child by the benchmark)
//
// Environment:
//   VARNEL_BENCH_DIR   folder in which the scratch folder is made (default $TMPDIR, else /tmp)
//   VARNEL_BENCH_RUNS  timed runs of each program on each 8192 x 8192 input (default 11, at least
//                      5); the 512 x 512 input gets six times as many
//   VARNEL_BENCH_HUGE  1 adds a 32768 x 32768 24-bit input (3 GiB in, 4 GiB out), 5 runs
//   VARNEL_BENCH_KEEP  1 leaves the scratch folder with its inputs and path.ini, for profiling
//   VARNEL_BENCH_ONLY  runs only the inputs whose label holds this text ("sets": only the sets,
//                      "paths": only the conversion paths against each other, "watch": only
//                      the time from a save to its output under --watch)
#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "child.hpp"
#include "io_floor.hpp"
#include "pictures.hpp"
#include "sets.hpp"
#include "tiers.hpp"
#include "watch.hpp"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr int kDefaultRuns = 11;
constexpr int kMinimumRuns = 5;

struct Case {
    std::string label;
    bench::Picture picture;
    std::string input_name;
    int runs;
    double time_limit;
    double rss_limit_mib;
    // The picture's M32 file back to a TGA file: the input is the M32 file varnel makes of it.
    bool back = false;
};

struct Outcome {
    const Case* c = nullptr;
    std::string failure;
    std::vector<double> varnel_seconds;
    std::vector<double> floor_seconds;
    std::vector<double> before_seconds;
    double varnel_rss_mib = 0;
    double floor_rss_mib = 0;
};

struct Setup {
    std::string varnel;
    std::string before;  // another build, timed in the same runs; empty: none
    std::string self;
    fs::path scratch;
    bool keep;
};

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> v) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 == 1 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string load_average() {
    std::string text = read_file("/proc/loadavg");
    const std::size_t cut = text.find(' ', text.find(' ', text.find(' ') + 1) + 1);
    return cut == std::string::npos ? text : text.substr(0, cut);
}

std::string renamed(const std::string& name, const char* ending) {
    return name.substr(0, name.size() - 3) + ending;
}

std::string input_of(const Case& c) {
    return c.back ? renamed(c.input_name, "m32") : c.input_name;
}

std::string output_of(const Case& c) {
    return c.back ? c.input_name : renamed(c.input_name, "m32");
}

std::uint64_t output_size(const Case& c) {
    return c.back ? bench::tga_size(c.picture) : bench::m32_size(c.picture);
}

int runs_from_environment() {
    const char* text = std::getenv("VARNEL_BENCH_RUNS");
    if (text == nullptr) {
        return kDefaultRuns;
    }
    return std::max(kMinimumRuns, std::atoi(text));
}

bool environment_flag(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && std::string(value) == "1";
}

bool write_bytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out.flush());
}

// path.ini holds a relative prefix without a line feed: the line feed would be part of it.
bool write_configuration(const Setup& s, const std::vector<Case>& cases) {
    fs::create_directory(s.scratch / "tpl");
    std::ofstream(s.scratch / "path.ini", std::ios::binary) << "tpl/";
    for (const Case& c : cases) {
        const std::string name = "tpl/" + std::to_string(c.picture.width) + "x" +
                                 std::to_string(c.picture.height) + ".m32";
        if (!write_bytes(s.scratch / name, bench::template_bytes())) {
            return false;
        }
    }
    return fs::exists(s.scratch / "path.ini");
}

std::string check_varnel(const Setup& s, const Case& c, const bench::ChildRun& run) {
    if (!run.started || !run.exited || run.exit_status != 0) {
        return "varnel failed (exit status " + std::to_string(run.exit_status) +
               "), said: " + read_file(s.scratch / "stdout.txt");
    }
    const std::uint64_t pixels = std::uint64_t{c.picture.width} * c.picture.height;
    const std::string expected = "Processing " + input_of(c) + "\nResolution is " +
                                 std::to_string(c.picture.width) + "x" +
                                 std::to_string(c.picture.height) + "\nNeeds " +
                                 std::to_string(pixels * (c.back ? 4 : 3)) + " bytes in memory\n";
    if (read_file(s.scratch / "stdout.txt") != expected) {
        return "unexpected standard output: " + read_file(s.scratch / "stdout.txt");
    }
    if (!read_file(s.scratch / "stderr.txt").empty()) {
        return "wrote to standard error: " + read_file(s.scratch / "stderr.txt");
    }
    std::error_code ec;
    if (fs::file_size(s.scratch / output_of(c), ec) != output_size(c)) {
        return "output has the wrong size";
    }
    return {};
}

class Runner {
public:
    Runner(const Setup& s, const Case& c) : s_(s), c_(c), output_(output_of(c)) {}

    bench::ChildRun varnel(const std::string& program) {
        clear();
        std::vector<std::string> command = {program, input_of(c_)};
        if (c_.back) {
            command.insert(command.begin() + 1, "--to-tga");
        }
        return bench::run_child(command, s_.scratch.string(), stdout_path(), stderr_path());
    }

    bench::ChildRun io_floor() {
        clear();
        return bench::run_child(
            {s_.self, "--floor", input_of(c_), output_, std::to_string(output_size(c_))},
            s_.scratch.string(), stdout_path(), stderr_path());
    }

    bool floor_ok(const bench::ChildRun& run) const {
        std::error_code ec;
        return run.exited && run.exit_status == 0 &&
               fs::file_size(s_.scratch / output_, ec) == output_size(c_);
    }

    // Each run writes a fresh file, never onto one left by the run before, and starts with none
    // of the benchmark's own data waiting to be written back, which would otherwise slow down
    // whichever program runs next.
    void clear() const {
        std::error_code ec;
        fs::remove(s_.scratch / output_, ec);
        const int folder = open(s_.scratch.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folder >= 0) {
            syncfs(folder);
            close(folder);
        }
    }

    const std::string& output() const {
        return output_;
    }

private:
    std::string stdout_path() const {
        return (s_.scratch / "stdout.txt").string();
    }
    std::string stderr_path() const {
        return (s_.scratch / "stderr.txt").string();
    }

    const Setup& s_;
    const Case& c_;
    std::string output_;
};

void read_through(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(std::size_t{1} << 20);
    while (in.read(block.data(), static_cast<std::streamsize>(block.size()))) {
    }
}

void remove_input(const Setup& s, const fs::path& input) {
    if (!s.keep) {
        fs::remove(input);
    }
}

Outcome measure(const Setup& s, const Case& c) {
    Outcome o;
    o.c = &c;
    const fs::path input = s.scratch / c.input_name;
    auto start = Clock::now();
    if (!bench::write_tga(c.picture, input.string())) {
        o.failure = "cannot write " + input.string();
        return o;
    }
    std::printf("%s: made %s (%.1f MiB) in %.2f s\n", c.label.c_str(), c.input_name.c_str(),
                static_cast<double>(fs::file_size(input)) / kMiB, seconds_since(start));
    std::fflush(stdout);

    if (c.back) {
        // The M32 file to take back is varnel's own conversion of the picture.
        const bench::ChildRun made = bench::run_child({s.varnel, c.input_name}, s.scratch.string(),
                                                      (s.scratch / "stdout.txt").string(),
                                                      (s.scratch / "stderr.txt").string());
        fs::remove(input);
        if (!made.exited || made.exit_status != 0) {
            o.failure = "cannot make the M32 file to take back";
            return o;
        }
    }
    // Straight after it is written an input may not be in the page cache yet; every timed run
    // should find it there, the first as much as the others.
    read_through(s.scratch / input_of(c));
    Runner runner(s, c);
    bench::ChildRun first = runner.varnel(s.varnel);
    o.failure = check_varnel(s, c, first);
    if (o.failure.empty()) {
        start = Clock::now();
        const std::string header_name = s.scratch.filename().string() + "/" + runner.output();
        const std::string output = (s.scratch / runner.output()).string();
        o.failure = c.back ? bench::check_tga(c.picture, output)
                           : bench::check_m32(c.picture, output, header_name);
        std::printf("%s: every byte of the output checked in %.2f s\n", c.label.c_str(),
                    seconds_since(start));
    }
    if (!o.failure.empty()) {
        runner.clear();
        remove_input(s, s.scratch / input_of(c));
        return o;
    }
    // The first run of each program, untimed, leaves both finding the system in the same state.
    o.varnel_rss_mib = first.peak_rss_mib;
    runner.io_floor();
    if (!s.before.empty()) {
        o.failure = check_varnel(s, c, runner.varnel(s.before));
    }

    for (int i = 0; i < c.runs && o.failure.empty(); ++i) {
        const bench::ChildRun v = runner.varnel(s.varnel);
        if (!check_varnel(s, c, v).empty()) {
            o.failure = check_varnel(s, c, v);
            break;
        }
        o.varnel_seconds.push_back(v.seconds);
        o.varnel_rss_mib = std::max(o.varnel_rss_mib, v.peak_rss_mib);
        const bench::ChildRun f = runner.io_floor();
        if (!runner.floor_ok(f)) {
            o.failure = "the I/O floor failed: " + read_file(s.scratch / "stderr.txt");
            break;
        }
        o.floor_seconds.push_back(f.seconds);
        o.floor_rss_mib = std::max(o.floor_rss_mib, f.peak_rss_mib);
        if (!s.before.empty()) {
            const bench::ChildRun b = runner.varnel(s.before);
            if (!check_varnel(s, c, b).empty()) {
                o.failure = "the build to compare with: " + check_varnel(s, c, b);
                break;
            }
            o.before_seconds.push_back(b.seconds);
        }
    }
    runner.clear();
    remove_input(s, s.scratch / input_of(c));
    if (o.failure.empty()) {
        const auto [vmin, vmax] =
            std::minmax_element(o.varnel_seconds.begin(), o.varnel_seconds.end());
        const auto [fmin, fmax] =
            std::minmax_element(o.floor_seconds.begin(), o.floor_seconds.end());
        std::printf("%s: varnel %.4f .. %.4f s, floor %.4f .. %.4f s over %zu runs each\n",
                    c.label.c_str(), *vmin, *vmax, *fmin, *fmax, o.varnel_seconds.size());
        if (!o.before_seconds.empty()) {
            const auto [bmin, bmax] =
                std::minmax_element(o.before_seconds.begin(), o.before_seconds.end());
            std::printf("%s: the build compared with %.4f .. %.4f s\n", c.label.c_str(), *bmin,
                        *bmax);
        }
    }
    std::fflush(stdout);
    return o;
}

void print_table(const std::vector<Outcome>& outcomes, bool compared) {
    std::printf("\n%-34s %4s %9s %9s %6s %6s %9s %9s %9s  %-7s", "input", "runs", "varnel s",
                "floor s", "ratio", "target", "peak RSS", "RSS max", "out MiB/s", "targets");
    std::printf(compared ? " %9s %8s\n" : "\n", "before s", "/before");
    for (const Outcome& o : outcomes) {
        const Case& c = *o.c;
        if (!o.failure.empty()) {
            std::printf("%-34s FAILED: %s\n", c.label.c_str(), o.failure.c_str());
            continue;
        }
        const double v = median(o.varnel_seconds);
        const double f = median(o.floor_seconds);
        const double ratio = v / f;
        const double out_mib = static_cast<double>(output_size(c)) / kMiB;
        const bool time_met = ratio <= c.time_limit;
        const bool rss_met = o.varnel_rss_mib <= c.rss_limit_mib;
        std::printf("%-34s %4zu %9.4f %9.4f %5.2fx %5.1fx %5.1f MiB %5.0f MiB %9.0f  %-7s",
                    c.label.c_str(), o.varnel_seconds.size(), v, f, ratio, c.time_limit,
                    o.varnel_rss_mib, c.rss_limit_mib, out_mib / v,
                    time_met && rss_met ? "met"
                    : time_met          ? "MISSED (memory)"
                    : rss_met           ? "MISSED (time)"
                                        : "MISSED (time, memory)");
        if (compared) {
            const double b = median(o.before_seconds);
            std::printf(" %9.4f %7.3fx", b, v / b);
        }
        std::printf("\n");
    }
    double floor_rss = 0;
    for (const Outcome& o : outcomes) {
        floor_rss = std::max(floor_rss, o.floor_rss_mib);
    }
    std::printf(
        "\nTimes are medians of alternating runs, from fork to wait4, inputs in the page cache.\n"
        "Peak RSS is the child's ru_maxrss (it counts the pages the child shares with the\n"
        "benchmark between fork and exec); the I/O floor's peak was %.1f MiB, the benchmark's "
        "%.1f MiB.\n",
        floor_rss, bench::own_peak_rss_mib());
}

bool enough_disk(const fs::path& folder, std::uint64_t bytes) {
    struct statvfs info {};
    if (statvfs(folder.c_str(), &info) != 0) {
        return false;
    }
    const std::uint64_t free_bytes = std::uint64_t{info.f_bavail} * info.f_frsize;
    std::printf("free space in %s: %.1f GiB, the large input needs %.1f GiB\n", folder.c_str(),
                static_cast<double>(free_bytes) / static_cast<double>(kGiB),
                static_cast<double>(bytes) / static_cast<double>(kGiB));
    return free_bytes >= bytes;
}

std::string self_path() {
    char buffer[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

fs::path make_scratch() {
    const char* parent = std::getenv("VARNEL_BENCH_DIR");
    if (parent == nullptr) {
        parent = std::getenv("TMPDIR");
    }
    std::string pattern = std::string(parent != nullptr ? parent : "/tmp") + "/varnel-bench-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return fs::canonical(pattern);
}

int benchmark(const std::string& varnel, const std::string& before) {
    const auto start = Clock::now();
    Setup s{fs::absolute(varnel).string(), before.empty() ? "" : fs::absolute(before).string(),
            self_path(), make_scratch(), environment_flag("VARNEL_BENCH_KEEP")};
    if (s.scratch.empty() || s.self.empty()) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        return 1;
    }
    const int runs = runs_from_environment();
    const bool huge = environment_flag("VARNEL_BENCH_HUGE");
    constexpr double kStreamLimit = 16;
    std::vector<Case> cases = {
        {"8192x8192 24-bit",
         {bench::Encoding::Uncompressed24, 8192, 8192},
         "rgb24_8192.tga",
         runs,
         1.2,
         kStreamLimit},
        {"8192x8192 32-bit RLE",
         {bench::Encoding::Rle32, 8192, 8192},
         "rgba32_rle_8192.tga",
         runs,
         1.4,
         kStreamLimit},
        {"8192x8192 24-bit RLE, short runs",
         {bench::Encoding::Rle24Short, 8192, 8192},
         "rgb24_rle_short_8192.tga",
         runs,
         1.4,
         kStreamLimit},
        {"512x512 24-bit",
         {bench::Encoding::Uncompressed24, 512, 512},
         "rgb24_512.tga",
         6 * runs,
         1.2,
         kStreamLimit},
        {"8192x8192 32-bit",
         {bench::Encoding::Uncompressed32, 8192, 8192},
         "rgba32_8192.tga",
         runs,
         1.2,
         kStreamLimit},
        {"8192x8192 16-bit",
         {bench::Encoding::Word16, 8192, 8192},
         "word16_8192.tga",
         runs,
         1.2,
         kStreamLimit},
        {"8192x8192 8-bit grey",
         {bench::Encoding::Grey8, 8192, 8192},
         "grey8_8192.tga",
         runs,
         1.2,
         kStreamLimit},
        {"8192x8192 8-bit colour map",
         {bench::Encoding::Mapped8, 8192, 8192},
         "mapped8_8192.tga",
         runs,
         1.2,
         kStreamLimit},
        {"8192x8192 8-bit map of 200 colours",
         {bench::Encoding::Mapped8Partial, 8192, 8192},
         "mapped200_8192.tga",
         runs,
         1.2,
         kStreamLimit},
        {"8192x8192 M32 back to TGA",
         {bench::Encoding::Uncompressed32, 8192, 8192},
         "back_8192.tga",
         runs,
         1.2,
         kStreamLimit,
         true},
    };
    if (huge) {
        // Five alternating runs after a warm-up of each. A 4 GiB output crosses the system's
        // limits on unwritten data, so a run may be slowed by the writing back of its own
        // output or by the reclaiming of the page cache, whichever program it is (10.7 s
        // instead of 1.7 s was measured for either).
        cases.push_back({"32768x32768 24-bit",
                         {bench::Encoding::Uncompressed24, 32768, 32768},
                         "rgb24_32768.tga",
                         5,
                         1.2,
                         kStreamLimit});
    }
    std::printf("varnel benchmark: %s%s%s\nscratch folder %s, %ld CPUs, load average %s\n",
                s.varnel.c_str(), s.before.empty() ? "" : ", compared with ", s.before.c_str(),
                s.scratch.c_str(), sysconf(_SC_NPROCESSORS_ONLN), load_average().c_str());
    std::fflush(stdout);

    const char* only = std::getenv("VARNEL_BENCH_ONLY");
    if (only != nullptr) {
        cases.erase(std::remove_if(
                        cases.begin(), cases.end(),
                        [only](const Case& c) { return c.label.find(only) == std::string::npos; }),
                    cases.end());
    }
    std::vector<Outcome> outcomes;
    if (!write_configuration(s, cases)) {
        std::fprintf(stderr, "cannot write path.ini and the templates in %s\n", s.scratch.c_str());
        fs::remove_all(s.scratch);
        return 1;
    }
    for (const Case& c : cases) {
        if (bench::m32_size(c.picture) > kGiB) {
            const std::uint64_t in = 18 + std::uint64_t{3} * c.picture.width * c.picture.height;
            if (!enough_disk(s.scratch, in + bench::m32_size(c.picture) + kGiB)) {
                Outcome skipped;
                skipped.c = &c;
                skipped.failure = "skipped: not enough free disk space";
                outcomes.push_back(skipped);
                continue;
            }
        }
        outcomes.push_back(measure(s, c));
    }
    if (s.keep) {
        std::printf("inputs kept in %s\n", s.scratch.c_str());
    }

    print_table(outcomes, !s.before.empty());
    const bool paths_right = (only != nullptr && std::string(only) != "paths") ||
                             bench::benchmark_paths(s.scratch.string(), runs);
    const bool watch_right = (only != nullptr && std::string(only) != "watch") ||
                             bench::benchmark_watch(s.varnel, s.scratch.string(), 20);
    const bool sets_right = (only != nullptr && std::string(only) != "sets") ||
                            bench::benchmark_sets(s.varnel, s.self, s.scratch.string(),
                                                  std::max(kMinimumRuns, runs / 2));
    if (!s.keep) {
        fs::remove_all(s.scratch);
    }
    std::printf("load average at the end %s; whole benchmark %.1f s\n", load_average().c_str(),
                seconds_since(start));
    const bool all_converted = std::all_of(outcomes.begin(), outcomes.end(), [](const Outcome& o) {
        return o.failure.empty() || o.failure.rfind("skipped", 0) == 0;
    });
    return all_converted && paths_right && watch_right && sets_right ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 4 && args.size() % 3 == 1 && args[0] == "--floor") {
        return bench::io_floor_set(argc - 2, argv + 2);
    }
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr,
                     "usage: varnel_bench VARNEL [BEFORE]\n"
                     "       varnel_bench --floor IN OUT SIZE...\n");
        return 2;
    }
    return benchmark(args[0], args.size() == 2 ? args[1] : std::string());
}
