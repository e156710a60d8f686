// Runs that fail on the output side: a full disk, a kill in the middle of writing, and outputs
// that may not be made. Whatever happens, the output name holds the old file or a whole new one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif
#ifdef __linux__
#include <sys/mount.h>
#endif

#include "tga_builder.hpp"
#include "tool_runner.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

std::string progress(const std::string& input, unsigned width, unsigned height) {
    return "Processing " + input + "\nResolution is " + std::to_string(width) + "x" +
           std::to_string(height) + "\nNeeds " + std::to_string(std::uint64_t{width} * height * 3) +
           " bytes in memory\n";
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

// The M32 file for classic_tga(width, height) converted in `folder` as `output`.
std::string expected_m32(const fs::path& folder, const std::string& output,
                         const std::string& template_file, std::uint16_t width,
                         std::uint16_t height) {
    std::string m32("\x04\0\0\0", 4);
    m32 += folder.filename().string() + "/" + output;
    m32.resize(256, '\0');
    m32 += template_file.substr(256, 712);
    return m32 + classic_records(width, height);
}

#ifdef __linux__
// A tmpfs of its own for one test, always unmounted at the end.
class SmallDisk {
public:
    SmallDisk(const fs::path& where, const std::string& options) : path_(where), options_(options) {
        fs::create_directory(where);
        mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
        error_ = mounted_ ? 0 : errno;
    }
    ~SmallDisk() {
        if (mounted_ && ::umount2(path_.c_str(), 0) != 0) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const {
        return mounted_;
    }
    std::string why_not() const {
        return "mounting a tmpfs is not permitted here (" + std::string(std::strerror(error_)) +
               "); skipped";
    }
    bool make_read_only() {
        return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options_.c_str()) ==
               0;
    }

private:
    fs::path path_;
    std::string options_;
    bool mounted_ = false;
    int error_ = 0;
};

// Writes files of `chunk` bytes until the disk refuses another one, or another byte.
void fill_disk(const fs::path& folder, std::size_t chunk) {
    const std::string bytes(chunk, 'x');
    for (int i = 0;; ++i) {
        std::ofstream out(folder / ("filler" + std::to_string(i)), std::ios::binary);
        if (!out) {
            return;
        }
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            return;
        }
    }
}

struct FullDiskCase {
    const char* name;
    bool old_output;
    std::size_t filler_chunk;  // 0: the disk fills while the records are written
    const char* message;
    std::uint16_t side;     // of the square image
    const char* disk_size;  // holds the input and the template, never the output
};

TEST(FullDisk, FailedOutputLeavesNoTraceAndTheOldFileIntact) {
    // 400 x 400: the input (480018 bytes) and the template fit the 1 MiB disk, the output
    // (640968 bytes) does not. 1024 x 1024: the input (3 MiB) fits 4 MiB, the output (4 MiB and
    // 968 bytes) does not, and fails after many whole blocks have been written.
    const FullDiskCase cases[] = {
        {"disk fills during the records", false, 0, "Error writing big.m32.\n", 400, "1m"},
        {"disk fills during the records, old output", true, 0, "Error writing big.m32.\n", 400,
         "1m"},
        {"no byte free", true, 4096, "Error writing big.m32.\n", 400, "1m"},
        {"no file can be created", true, 1, "Error opening big.m32 for writing.\n", 400, "1m"},
        {"large output, disk fills during the records", false, 0, "Error writing big.m32.\n", 1024,
         "4m"},
        {"large output, disk fills during the records, old output", true, 0,
         "Error writing big.m32.\n", 1024, "4m"},
    };
    for (const FullDiskCase& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder base;
        const std::string size = std::string("size=") + c.disk_size;
        SmallDisk disk(base.path / "disk", c.filler_chunk == 1 ? size + ",nr_inodes=16" : size);
        if (!disk.mounted()) {
            GTEST_SKIP() << disk.why_not();
        }
        const fs::path folder = base.path / "disk";
        const std::string tpl = template_bytes();
        const std::string old = template_bytes(2000, 99);
        const std::string template_name =
            std::to_string(c.side) + "x" + std::to_string(c.side) + ".m32";
        write_bytes(folder / "big.tga", classic_tga(c.side, c.side));
        write_bytes(folder / "path.ini", "");
        write_bytes(folder / template_name, tpl);
        if (c.old_output) {
            write_bytes(folder / "big.m32", old);
        }
        if (c.filler_chunk == 1) {
            fill_disk(folder, 0);
        } else if (c.filler_chunk > 0) {
            fill_disk(folder, c.filler_chunk);
            fill_disk(folder, 1);
        }
        const std::vector<std::string> before = list_files(folder);

        const ToolRun run = run_varnel(folder, {"big.tga"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.output, progress("big.tga", c.side, c.side) + c.message);
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(list_files(folder), before);
        if (c.old_output) {
            EXPECT_EQ(read_bytes(folder / "big.m32"), old);
        }
        EXPECT_EQ(read_bytes(folder / template_name), tpl);
    }
}
#endif

#ifndef _WIN32
void wait_for_line(int output, const std::string& line_end) {
    std::string seen;
    char c = 0;
    while (seen.find(line_end) == std::string::npos && ::read(output, &c, 1) == 1) {
        seen += c;
    }
}

// The size of the one file in `folder` that is not among `known`, or -1 when there is none.
std::intmax_t stray_file_size(const fs::path& folder, const std::set<std::string>& known) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (known.count(name) == 0) {
            const std::uintmax_t size = fs::file_size(entry.path(), ec);
            return ec ? 0 : static_cast<std::intmax_t>(size);
        }
    }
    return -1;
}

TEST(KilledRun, OutputNameHoldsTheOldFileOrTheWholeNewOneNeverAPart) {
    constexpr std::uint16_t kSide = 4096;
    TempFolder folder;
    const std::string tpl = template_bytes();
    const std::string old = template_bytes(5000, 42);
    write_bytes(folder.path / "big.tga", classic_tga(kSide, kSide));
    write_bytes(folder.path / "path.ini", "");
    write_bytes(folder.path / "4096x4096.m32", tpl);
    const std::string whole = expected_m32(folder.path, "big.m32", tpl, kSide, kSide);
    const std::set<std::string> known{"big.tga", "path.ini", "4096x4096.m32", "big.m32"};

    // Killed once the new file has reached each of these sizes (or the run has ended).
    const std::intmax_t thresholds[] = {-1, 0, 968, 1 << 20, 16 << 20, 48 << 20, 64 << 20};
    int killed_while_writing = 0;
    for (const std::intmax_t threshold : thresholds) {
        for (const bool had_old : {true, false}) {
            SCOPED_TRACE("killed at " + std::to_string(threshold) + " bytes" +
                         (had_old ? ", old output present" : ""));
            for (const auto& entry : fs::directory_iterator(folder.path)) {
                if (known.count(entry.path().filename().string()) == 0) {
                    fs::remove(entry.path());
                }
            }
            fs::remove(folder.path / "big.m32");
            if (had_old) {
                write_bytes(folder.path / "big.m32", old);
            }

            const StartedVarnel child = start_varnel(folder.path, {"big.tga"});
            wait_for_line(child.output, "bytes in memory\n");
            int status = 0;
            std::intmax_t written = -1;
            while (::waitpid(child.pid, &status, WNOHANG) == 0) {
                written = stray_file_size(folder.path, known);
                if (written >= threshold) {
                    ::kill(child.pid, SIGKILL);
                    ::waitpid(child.pid, &status, 0);
                    break;
                }
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            ::close(child.output);
            if (WIFSIGNALED(status) && written >= 0 && threshold >= 0) {
                ++killed_while_writing;
            }

            const fs::path output = folder.path / "big.m32";
            if (fs::exists(output)) {
                const std::string bytes = read_bytes(output);
                EXPECT_TRUE(bytes == whole || (had_old && bytes == old))
                    << "the output name holds " << bytes.size() << " bytes";
            }
        }
    }
    EXPECT_GT(killed_while_writing, 0) << "no run was killed while its new file was being written";
}
#endif

TEST(UnwritableOutput, OutputThatIsADirectoryIsLeftAlone) {
    TempFolder folder;
    write_bytes(folder.path / "pic.tga", classic_tga(4, 2));
    write_bytes(folder.path / "path.ini", "");
    write_bytes(folder.path / "4x2.m32", template_bytes());
    fs::create_directory(folder.path / "pic.m32");
    write_bytes(folder.path / "pic.m32" / "inside", "kept");
    const std::vector<std::string> before = list_files(folder.path);

    const ToolRun run = run_varnel(folder.path, {"pic.tga"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output,
              text_lines(progress("pic.tga", 4, 2) + "Error opening pic.m32 for writing.\n"));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(list_files(folder.path), before);
    EXPECT_EQ(read_bytes(folder.path / "pic.m32" / "inside"), "kept");
}

TEST(UnwritableOutput, ReadOnlyExistingOutputIsLeftAlone) {
    TempFolder folder;
    const std::string old = template_bytes(1500, 5);
    write_bytes(folder.path / "pic.tga", classic_tga(4, 2));
    write_bytes(folder.path / "path.ini", "");
    write_bytes(folder.path / "4x2.m32", template_bytes());
    write_bytes(folder.path / "pic.m32", old);
    fs::permissions(folder.path / "pic.m32", fs::perms::owner_read | fs::perms::group_read);
    const std::vector<std::string> before = list_files(folder.path);

    const ToolRun run = run_varnel(folder.path, {"pic.tga"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output,
              text_lines(progress("pic.tga", 4, 2) + "Error opening pic.m32 for writing.\n"));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(list_files(folder.path), before);
    EXPECT_EQ(read_bytes(folder.path / "pic.m32"), old);
}

#ifdef __linux__
// No new file can be made in the input's folder. The permission bits do not stop root, so the
// folder is a read-only mount there.
TEST(UnwritableOutput, OutputInAFolderThatMayNotBeWrittenIsNotCreated) {
    TempFolder base;
    const fs::path folder = base.path / "sub";
    const bool root = ::geteuid() == 0;
    SmallDisk disk(folder, "size=1m");
    if (root && !disk.mounted()) {
        GTEST_SKIP() << disk.why_not();
    }
    fs::create_directories(folder);
    write_bytes(folder / "pic.tga", classic_tga(4, 2));
    write_bytes(base.path / "path.ini", "");
    write_bytes(base.path / "4x2.m32", template_bytes());
    if (root) {
        ASSERT_TRUE(disk.make_read_only());
    } else {
        fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const std::vector<std::string> before = list_files(base.path);

    const ToolRun run = run_varnel(base.path, {"sub/pic.tga"});
    EXPECT_EQ(run.status, 255);
    EXPECT_EQ(run.output,
              progress("sub/pic.tga", 4, 2) + "Error opening sub/pic.m32 for writing.\n");
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(list_files(base.path), before);
}
#endif

TEST(UnwritableOutput, TemplateThatIsTheOutputIsNotOverwritten) {
    for (const std::string prefix : {"", "./"}) {
        SCOPED_TRACE("prefix '" + prefix + "'");
        TempFolder folder;
        const std::string tpl = template_bytes();
        write_bytes(folder.path / "4x2.tga", classic_tga(4, 2));
        write_bytes(folder.path / "path.ini", prefix);
        write_bytes(folder.path / "4x2.m32", tpl);
        const std::vector<std::string> before = list_files(folder.path);

        const ToolRun run = run_varnel(folder.path, {"4x2.tga"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.output, text_lines(progress("4x2.tga", 4, 2) +
                                         "Won't overwrite the resolution template 4x2.m32 !\n"));
        EXPECT_EQ(run.errors, "");
        EXPECT_EQ(list_files(folder.path), before);
        EXPECT_EQ(read_bytes(folder.path / "4x2.m32"), tpl);
    }
}

TEST(UnwritableOutput, InputThatIsItsOwnOutputIsConvertedInPlace) {
    TempFolder folder;
    const std::string tpl = template_bytes();
    write_bytes(folder.path / "tga.m32", classic_tga(4, 2));
    write_bytes(folder.path / "path.ini", "");
    write_bytes(folder.path / "4x2.m32", tpl);

    const ToolRun run = run_varnel(folder.path, {"tga.m32"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, text_lines(progress("tga.m32", 4, 2)));
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(list_files(folder.path), sorted({"4x2.m32", "path.ini", "tga.m32"}));
    EXPECT_EQ(read_bytes(folder.path / "tga.m32"), expected_m32(folder.path, "tga.m32", tpl, 4, 2));
}

}  // namespace
}  // namespace varnel::testing
