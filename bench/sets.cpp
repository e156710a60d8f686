#include "sets.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <vector>

#include "child.hpp"
#include "io_floor.hpp"
#include "pictures.hpp"

namespace bench {

namespace {

namespace fs = std::filesystem;

constexpr double kMiB = 1024.0 * 1024.0;
constexpr double kWorkerMemoryMib = 16;

// The kinds a set mixes, in turn.
constexpr Encoding kMix[] = {Encoding::Uncompressed24, Encoding::Uncompressed32, Encoding::Rle32,
                             Encoding::Rle24Short};

struct SetCase {
    const char* label;
    std::uint32_t side;
    int count;
    double loop_limit;   // the one run's time against the loop's; 0: no target
    double floor_limit;  // against the floor's
    bool back;           // the set's M32 files back to TGA files
};

struct Measured {
    std::vector<double> varnel;
    std::vector<double> loop;
    std::vector<double> floor;
    double varnel_rss_mib = 0;
    std::string failure;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty()           ? 0
           : v.size() % 2 == 1 ? v[v.size() / 2]
                               : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string tga_name(int i) {
    char text[32];
    std::snprintf(text, sizeof text, "tex%04d.tga", i);
    return text;
}

std::string renamed(const std::string& name, const char* ending) {
    return name.substr(0, name.size() - 3) + ending;
}

std::string input_of(const SetCase& c, int i) {
    return c.back ? renamed(tga_name(i), "m32") : tga_name(i);
}

std::string output_of(const SetCase& c, int i) {
    return c.back ? tga_name(i) : renamed(tga_name(i), "m32");
}

Picture picture_of(const SetCase& c, int i) {
    return {kMix[i % 4], c.side, c.side};
}

// Every output removed, and nothing of the last run waiting to be written back, which would slow
// down whichever program runs next.
void clear_outputs(const fs::path& folder, const SetCase& c) {
    for (int i = 0; i < c.count; ++i) {
        std::error_code ec;
        fs::remove(folder / output_of(c, i), ec);
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        syncfs(fd);
        close(fd);
    }
}

bool make_set(const std::string& varnel, const fs::path& folder, const SetCase& c) {
    fs::create_directories(folder / "tpl");
    std::ofstream(folder / "path.ini", std::ios::binary) << "tpl/";
    const std::vector<std::uint8_t> tpl = template_bytes();
    const std::string side = std::to_string(c.side);
    std::ofstream(folder / "tpl" / (side + "x" + side + ".m32"), std::ios::binary)
        .write(reinterpret_cast<const char*>(tpl.data()), static_cast<std::streamsize>(tpl.size()));
    std::vector<std::string> convert = {varnel};
    for (int i = 0; i < c.count; ++i) {
        if (!write_tga(picture_of(c, i), (folder / tga_name(i)).string())) {
            return false;
        }
        convert.push_back(tga_name(i));
    }
    if (!c.back) {
        return true;
    }
    // The M32 files to take back are varnel's own conversions of the pictures.
    const ChildRun made = run_child(convert, folder.string(), (folder / "stdout.txt").string(),
                                    (folder / "stderr.txt").string());
    for (int i = 0; i < c.count; ++i) {
        fs::remove(folder / tga_name(i));
    }
    return made.exited && made.exit_status == 0;
}

std::string check_outputs(const fs::path& folder, const SetCase& c) {
    for (int i = 0; i < c.count; ++i) {
        const std::string output = output_of(c, i);
        const std::string header = folder.filename().string() + "/" + output;
        const std::string path = (folder / output).string();
        const std::string wrong =
            c.back ? check_tga(picture_of(c, i), path) : check_m32(picture_of(c, i), path, header);
        if (!wrong.empty()) {
            return output + ": " + wrong;
        }
    }
    return {};
}

Measured measure_set(const std::string& varnel, const std::string& self, const fs::path& folder,
                     const SetCase& c, int runs) {
    Measured m;
    std::vector<std::string> one_run = {varnel};
    if (c.back) {
        one_run.push_back("--to-tga");
    }
    if (const char* jobs = std::getenv("VARNEL_BENCH_JOBS")) {
        one_run.insert(one_run.end(), {"-j", jobs});
    }
    std::vector<std::string> floor = {self, "--floor"};
    for (int i = 0; i < c.count; ++i) {
        const Picture p = picture_of(c, i);
        one_run.push_back(input_of(c, i));
        floor.insert(floor.end(), {input_of(c, i), output_of(c, i),
                                   std::to_string(c.back ? tga_size(p) : m32_size(p))});
    }
    const std::vector<std::string> loop = {
        "/bin/sh", "-c",
        c.back ? "for f in tex*.m32; do \"$0\" --to-tga \"$f\" || exit 1; done"
               : "for f in tex*.tga; do \"$0\" \"$f\" || exit 1; done",
        varnel};
    const std::string out = (folder / "stdout.txt").string();
    const std::string err = (folder / "stderr.txt").string();
    const auto run = [&](const std::vector<std::string>& command) {
        clear_outputs(folder, c);
        return run_child(command, folder.string(), out, err);
    };

    // A first run of each, untimed: the inputs in the page cache, the output checked.
    ChildRun first = run(one_run);
    if (!first.exited || first.exit_status != 0) {
        m.failure = "varnel failed: " + read_file(out).substr(0, 300);
        return m;
    }
    m.failure = check_outputs(folder, c);
    if (!m.failure.empty()) {
        return m;
    }
    run(loop);
    run(floor);
    for (int i = 0; i < runs; ++i) {
        const ChildRun v = run(one_run);
        const ChildRun l = run(loop);
        const ChildRun f = run(floor);
        if (!v.exited || v.exit_status != 0 || !l.exited || l.exit_status != 0 || !f.exited ||
            f.exit_status != 0) {
            m.failure = "a run failed: " + read_file(err).substr(0, 300);
            return m;
        }
        m.varnel.push_back(v.seconds);
        m.loop.push_back(l.seconds);
        m.floor.push_back(f.seconds);
        m.varnel_rss_mib = std::max(m.varnel_rss_mib, v.peak_rss_mib);
    }
    clear_outputs(folder, c);
    return m;
}

// The system calls a run over the set makes for each file, counted by strace where the machine
// has it: those of the whole run, less those of a run that converts nothing, over the files.
std::string system_calls_per_file(const std::string& varnel, const fs::path& folder,
                                  const SetCase& c) {
    const std::string strace = "/usr/bin/strace";
    const fs::path counts = folder / "strace.txt";
    if (!fs::exists(strace)) {
        return "-";
    }
    const auto calls = [&](std::vector<std::string> command) {
        command.insert(command.begin(), {strace, "-f", "-c", "-o", counts.string()});
        run_child(command, folder.string(), (folder / "stdout.txt").string(),
                  (folder / "stderr.txt").string());
        std::ifstream in(counts);
        std::string line;
        std::string last;
        while (std::getline(in, line)) {
            if (line.find(" total") != std::string::npos) {
                last = line;
            }
        }
        std::istringstream words(last);
        std::string word;
        std::vector<std::string> fields;
        while (words >> word) {
            fields.push_back(word);
        }
        return fields.size() >= 5 ? std::stod(fields[3]) : 0.0;
    };
    std::vector<std::string> command = {varnel};
    if (c.back) {
        command.push_back("--to-tga");
    }
    for (int i = 0; i < c.count; ++i) {
        command.push_back(input_of(c, i));
    }
    clear_outputs(folder, c);
    const double all = calls(command);
    const double none = calls({varnel, "--version"});
    clear_outputs(folder, c);
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", (all - none) / c.count);
    return text;
}

}  // namespace

bool benchmark_sets(const std::string& varnel, const std::string& self, const std::string& scratch,
                    int runs) {
    const char* jobs = std::getenv("VARNEL_BENCH_JOBS");
    const bool one_at_a_time = jobs != nullptr && std::string(jobs) == "1";
    // One file at a time, a run cannot beat a loop by the share that workers give it.
    const double small_floor = one_at_a_time ? 1.5 : 1.1;
    const double small_loop = one_at_a_time ? 0 : 0.35;
    const SetCase cases[] = {
        {"1000 files of 256x256", 256, 1000, small_loop, small_floor, false},
        {"64 files of 2048x2048", 2048, 64, 0, 1.2, false},
        {"1000 M32 of 256x256 back", 256, 1000, small_loop, small_floor, true},
    };
    const unsigned workers = std::max(1u, std::thread::hardware_concurrency());
    std::printf(
        "\nTexture sets (24-bit, 32-bit, 32-bit RLE and 24-bit RLE with short runs in "
        "turn), %s workers:\n",
        jobs != nullptr ? jobs : std::to_string(workers).c_str());
    std::printf("%-24s %4s %9s %9s %9s %6s %6s %6s %6s %9s %9s %6s  %s\n", "set", "runs",
                "varnel s", "loop s", "floor s", "/loop", "target", "/floor", "target", "peak RSS",
                "RSS max", "calls", "targets");
    bool all_right = true;
    for (const SetCase& c : cases) {
        const fs::path folder =
            fs::path(scratch) / ("set" + std::to_string(c.side) + (c.back ? "back" : ""));
        if (!make_set(varnel, folder, c)) {
            std::printf("%-24s FAILED: cannot write the set\n", c.label);
            all_right = false;
            continue;
        }
        const Measured m = measure_set(varnel, self, folder, c, runs);
        const std::string calls = m.failure.empty() ? system_calls_per_file(varnel, folder, c) : "";
        if (std::getenv("VARNEL_BENCH_KEEP") == nullptr) {
            fs::remove_all(folder);
        }
        if (!m.failure.empty()) {
            std::printf("%-24s FAILED: %s\n", c.label, m.failure.c_str());
            all_right = false;
            continue;
        }
        const double v = median(m.varnel);
        const double l = median(m.loop);
        const double f = median(m.floor);
        const double rss_limit = kWorkerMemoryMib * workers;
        const bool met = (c.loop_limit == 0 || v / l <= c.loop_limit) && v / f <= c.floor_limit &&
                         m.varnel_rss_mib <= rss_limit;
        std::printf(
            "%-24s %4zu %9.4f %9.4f %9.4f %5.2fx %6s %5.2fx %5.1fx %5.1f MiB %5.0f MiB %6s  %s\n",
            c.label, m.varnel.size(), v, l, f, v / l,
            c.loop_limit == 0 ? "-" : (std::to_string(c.loop_limit).substr(0, 4) + "x").c_str(),
            v / f, c.floor_limit, m.varnel_rss_mib, rss_limit, calls.c_str(),
            met ? "met" : "MISSED");
    }
    std::printf(
        "Times are medians of runs that alternate: one varnel run over the set, a shell loop\n"
        "of one varnel run per file, and the I/O floor (one process that reads each input\n"
        "and writes a file of each output's size). Calls are the system calls a run makes for\n"
        "each file, counted by strace (beside the run, not timed; target: at most 20).\n");
    return all_right;
}

int io_floor_set(int count, char** triples) {
    for (int i = 0; i + 2 < count; i += 3) {
        if (const int status = io_floor(triples[i], triples[i + 1], std::stoull(triples[i + 2]))) {
            return status;
        }
    }
    return 0;
}

}  // namespace bench
