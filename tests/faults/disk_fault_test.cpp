// Runs that fail on the output side: a full disk and a kill in the middle of writing. Whatever
// happens, the output name holds the old file or a whole new one.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#endif

#include "scene.hpp"
#include "small_disk.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;

#ifdef __linux__
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
    const char* disk_size;  // holds the input, never the output
};

TEST(FullDisk, FailedOutputLeavesNoTraceAndTheOldFileIntact) {
    // 400 x 400: the input (480018 bytes) fits the 1 MiB disk, the output (640968 bytes) does not.
    // 1024 x 1024: the input (3 MiB) fits 4 MiB, the output (4 MiB and 968 bytes) does not, and
    // fails after many whole blocks have been written.
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
        // The disk is the current directory; the template lies beside it, off the disk.
        const Scene scene("stone", std::nullopt);
        const std::string size = std::string("size=") + c.disk_size;
        SmallDisk disk(scene.dir(), c.filler_chunk == 1 ? size + ",nr_inodes=16" : size);
        if (!disk.mounted()) {
            GTEST_SKIP() << disk.why_not();
        }
        scene.put("path.ini", "../tpl/");
        scene.put("big.tga", classic_tga(c.side, c.side));
        scene.put_template(c.side, c.side);
        if (c.old_output) {
            scene.put("big.m32", template_bytes(2000, 99));
        }
        if (c.filler_chunk == 1) {
            fill_disk(scene.dir(), 0);
        } else if (c.filler_chunk > 0) {
            fill_disk(scene.dir(), c.filler_chunk);
            fill_disk(scene.dir(), 1);
        }
        const Files before = scene.files();

        const ToolRun run = scene.run({"big.tga"});
        EXPECT_EQ(run.status, 255);
        EXPECT_EQ(run.output, progress_lines("big.tga", c.side, c.side) + line(c.message));
        EXPECT_EQ(run.errors, "");
        EXPECT_TRUE(scene.files() == before) << "a file was changed, made or removed";
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
    const Scene scene = Scene::with_templates_here();
    const std::string old = template_bytes(5000, 42);
    scene.put("big.tga", classic_tga(kSide, kSide));
    const std::string tpl = scene.put_template(kSide, kSide);
    const std::string whole =
        m32_header_start("stone/big.m32") + tpl.substr(256, 712) + classic_records(kSide, kSide);
    const std::set<std::string> known{"big.tga", "path.ini", "4096x4096.m32", "big.m32"};

    // Killed once the new file has reached each of these sizes (or the run has ended).
    const std::intmax_t thresholds[] = {-1, 0, 968, 1 << 20, 16 << 20, 48 << 20, 64 << 20};
    int killed_while_writing = 0;
    for (const std::intmax_t threshold : thresholds) {
        for (const bool had_old : {true, false}) {
            SCOPED_TRACE("killed at " + std::to_string(threshold) + " bytes" +
                         (had_old ? ", old output present" : ""));
            for (const auto& entry : fs::directory_iterator(scene.dir())) {
                if (known.count(entry.path().filename().string()) == 0) {
                    fs::remove(entry.path());
                }
            }
            fs::remove(scene.dir() / "big.m32");
            if (had_old) {
                scene.put("big.m32", old);
            }

            const StartedVarnel child = scene.start({"big.tga"});
            wait_for_line(child.output, "bytes in memory\n");
            int status = 0;
            std::intmax_t written = -1;
            while (::waitpid(child.pid, &status, WNOHANG) == 0) {
                written = stray_file_size(scene.dir(), known);
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

            if (fs::exists(scene.dir() / "big.m32")) {
                const std::string bytes = scene.read("big.m32");
                EXPECT_TRUE(bytes == whole || (had_old && bytes == old))
                    << "the output name holds " << bytes.size() << " bytes";
            }
        }
    }
    EXPECT_GT(killed_while_writing, 0) << "no run was killed while its new file was being written";
}
#endif

}  // namespace
}  // namespace varnel::testing
