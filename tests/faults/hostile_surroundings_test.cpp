// Runs in surroundings that work against varnel: interruptions, limits on the process, someone
// who swaps the new file's name for a link, a path.ini that is no file. Whatever happens, only
// what varnel made is touched, nothing unfinished is left, and the user gets a message from the
// table or the end the interruption asked for.
#include <gtest/gtest.h>

#ifdef __linux__
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tga_builder.hpp"
#include "tool_runner.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kSide = 4096;  // an output of 64 MiB: a run long enough to catch

std::string progress(const std::string& input, unsigned width, unsigned height) {
    return "Processing " + input + "\nResolution is " + std::to_string(width) + "x" +
           std::to_string(height) + "\nNeeds " + std::to_string(std::uint64_t{width} * height * 3) +
           " bytes in memory\n";
}

// A cross build's varnel runs under an emulator, which limits on the process bind too.
bool under_emulator() {
    return varnel_command().size() > 1;
}

std::string read_all(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

struct Ended {
    int status = 0;  // as waitpid gives it
    std::string output;
};

Ended finish(const StartedVarnel& child) {
    Ended ended;
    ended.output = read_all(child.output);
    ::waitpid(child.pid, &ended.status, 0);
    return ended;
}

Ended run_limited(const fs::path& folder, const std::vector<std::string>& arguments,
                  ProcessLimit limit) {
    return finish(start_varnel(folder, arguments, &limit));
}

// The name of varnel's new file in `folder`, once it exists and while the child runs.
std::optional<fs::path> wait_for_new_file(const fs::path& folder, pid_t pid) {
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (Clock::now() < until) {
        for (const auto& entry : fs::directory_iterator(folder)) {
            if (entry.path().filename().string().rfind(".varnel-", 0) == 0) {
                return entry.path();
            }
        }
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return std::nullopt;
}

// A folder with a large classic image, its template, path.ini and an earlier output.
struct LargeScene {
    TempFolder folder;
    std::string old_output = template_bytes(3000, 17);
    LargeScene() {
        write_bytes(folder.path / "big.tga", classic_tga(kSide, kSide));
        write_bytes(folder.path / "path.ini", "");
        write_bytes(folder.path / "4096x4096.m32", template_bytes());
        write_bytes(folder.path / "big.m32", old_output);
    }
    std::vector<std::string> files() const {
        return list_files(folder.path);
    }
};

// An interrupted run removes its new files and ends as the signal ends a program, so that a
// script sees the interruption; the earlier outputs stay. In a run over several files every
// worker stops.
TEST(Interruption, RemovesTheNewFilesAndEndsAsTheSignalWould) {
    const struct {
        int signal;
        std::vector<std::string> arguments;
    } cases[] = {
        {SIGINT, {"big.tga"}},
        {SIGTERM, {"big.tga"}},
        {SIGHUP, {"big.tga"}},
        {SIGTERM, {"-j", "2", "big.tga", "copy.tga"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + ", " + c.arguments.back());
        LargeScene scene;
        fs::copy_file(scene.folder.path / "big.tga", scene.folder.path / "copy.tga");
        const std::vector<std::string> before = scene.files();
        bool interrupted = false;
        for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
            const StartedVarnel child = start_varnel(scene.folder.path, c.arguments);
            if (wait_for_new_file(scene.folder.path, child.pid)) {
                ::kill(child.pid, c.signal);
            }
            const Ended ended = finish(child);
            interrupted = WIFSIGNALED(ended.status);
            if (interrupted) {
                EXPECT_EQ(WTERMSIG(ended.status), c.signal);
                EXPECT_EQ(read_bytes(scene.folder.path / "big.m32"), scene.old_output);
            }
            for (const std::string& name : scene.files()) {
                EXPECT_TRUE(name == "copy.m32" ||
                            std::find(before.begin(), before.end(), name) != before.end())
                    << name;
            }
        }
        EXPECT_TRUE(interrupted) << "every run ended before its signal came";
    }
}

TEST(Interruption, FileSizeLimitIsAWriteErrorAndLeavesNothing) {
    LargeScene scene;
    const std::vector<std::string> before = scene.files();
    const Ended ended = run_limited(scene.folder.path, {"big.tga"}, {RLIMIT_FSIZE, 1u << 20});
    ASSERT_TRUE(WIFEXITED(ended.status));
    EXPECT_EQ(WEXITSTATUS(ended.status), 255);
    EXPECT_EQ(ended.output, progress("big.tga", kSide, kSide) + "Error writing big.m32.\n");
    EXPECT_EQ(scene.files(), before);
    EXPECT_EQ(read_bytes(scene.folder.path / "big.m32"), scene.old_output);
}

// Someone who may rename files in the output's folder swaps the new file's name for a link to a
// file of theirs choosing while the data is written. The mode, owner and group of the new file
// are set through the open file, so the link's target keeps its own; the name no longer names
// varnel's file at the end, so nothing is renamed over the output.
TEST(SwappedName, OnlyWhatVarnelMadeIsTouched) {
    TempFolder elsewhere;
    const fs::path victim = elsewhere.path / "victim";
    write_bytes(victim, "not varnel's");
    ::chmod(victim.c_str(), 0600);
    bool swapped = false;
    for (int attempt = 0; attempt < 5 && !swapped; ++attempt) {
        LargeScene scene;
        ::chmod((scene.folder.path / "big.m32").c_str(), 0666);
        const StartedVarnel child = start_varnel(scene.folder.path, {"big.tga"});
        const std::optional<fs::path> name = wait_for_new_file(scene.folder.path, child.pid);
        if (name && ::kill(child.pid, SIGSTOP) == 0 && fs::exists(*name)) {
            fs::rename(*name, elsewhere.path / "taken");
            fs::create_symlink(victim, *name);
            swapped = true;
        }
        ::kill(child.pid, SIGCONT);
        const Ended ended = finish(child);
        if (!swapped) {
            continue;
        }
        ASSERT_TRUE(WIFEXITED(ended.status));
        EXPECT_EQ(WEXITSTATUS(ended.status), 255);
        EXPECT_EQ(ended.output, progress("big.tga", kSide, kSide) + "Error writing big.m32.\n");
        EXPECT_EQ(read_bytes(scene.folder.path / "big.m32"), scene.old_output);
        EXPECT_TRUE(fs::is_symlink(*name)) << "the link put in its place is someone else's";
        struct stat info {};
        ASSERT_EQ(::stat(victim.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(read_bytes(victim), "not varnel's");
    }
    EXPECT_TRUE(swapped) << "every run ended before its new file could be taken";
}

// Root replacing a user's file leaves it the user's, mode, owner and group.
TEST(ReplacedOutput, KeepsItsOwnerAndGroupWhenRootReplacesIt) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root may give a file to another user";
    }
    TempFolder folder;
    write_bytes(folder.path / "pic.tga", classic_tga(4, 2));
    write_bytes(folder.path / "path.ini", "");
    write_bytes(folder.path / "4x2.m32", template_bytes());
    const fs::path output = folder.path / "pic.m32";
    write_bytes(output, "the user's earlier output");
    ASSERT_EQ(::chown(output.c_str(), 4321, 8765), 0);
    ASSERT_EQ(::chmod(output.c_str(), 0640), 0);

    const ToolRun run = run_varnel(folder.path, {"pic.tga"});
    EXPECT_EQ(run.status, 0);
    struct stat info {};
    ASSERT_EQ(::stat(output.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 8765u);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(fs::file_size(output), 968u + 4 * 4 * 2);
}

// A path.ini that never ends, that no one writes to, or whose first line is very long is dealt
// with at once.
TEST(PathIni, ThatIsNoFileOrEndlessIsDealtWithAtOnce) {
    const std::string long_line(8u << 20, 'p');
    const struct {
        const char* what;
        std::function<void(const fs::path&)> make;
        std::string output;
    } cases[] = {
        {"a link to /dev/zero", [](const fs::path& p) { fs::create_symlink("/dev/zero", p); },
         "Couldn't find path.ini !\n"},
        {"a pipe", [](const fs::path& p) { ::mkfifo(p.c_str(), 0644); },
         "Couldn't find path.ini !\n"},
        {"a first line of 8 MiB", [&](const fs::path& p) { write_bytes(p, long_line + "\n"); },
         progress("pic.tga", 4, 2) + "Couldn't locate " + long_line +
             "4x2.m32. Make sure it's in this dir.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempFolder folder;
        write_bytes(folder.path / "pic.tga", classic_tga(4, 2));
        c.make(folder.path / "path.ini");
        const auto started = Clock::now();
        const ToolRun run = run_varnel(folder.path, {"pic.tga"});
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(run.status, 255);
        EXPECT_TRUE(run.output == c.output) << run.output.substr(0, 200);
        EXPECT_EQ(run.errors, "");
    }
}

#if defined(__SANITIZE_ADDRESS__)
#define VARNEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VARNEL_ADDRESS_SANITIZER 1
#endif
#endif

// Under a limit on its memory, a run either converts or says it ran out of memory, with status
// 1 and nothing left. The limits step up from one under which the program cannot even start to
// one it converts under; some between must make it run out.
TEST(ProcessLimits, OutOfMemoryIsAMessageAtAnyLimit) {
#ifdef VARNEL_ADDRESS_SANITIZER
    GTEST_SKIP() << "AddressSanitizer needs more address space than any limit here leaves";
#else
    if (under_emulator()) {
        GTEST_SKIP() << "a limit on memory binds the emulator as much as varnel";
    }
    LargeScene scene;
    const std::vector<std::string> before = scene.files();
    int out_of_memory = 0;
    bool converted = false;
    for (rlim_t limit = 1u << 20; limit <= (64u << 20) && !converted; limit += 256u << 10) {
        SCOPED_TRACE(std::to_string(limit) + " bytes of address space");
        const Ended ended = run_limited(scene.folder.path, {"big.tga"}, {RLIMIT_AS, limit});
        if (ended.output.empty()) {
            continue;  // not even started
        }
        ASSERT_TRUE(WIFEXITED(ended.status));
        if (WEXITSTATUS(ended.status) == 0) {
            converted = true;
            continue;
        }
        ++out_of_memory;
        EXPECT_EQ(WEXITSTATUS(ended.status), 1);
        // Memory may run out before the progress lines or after them.
        const std::string lines = progress("big.tga", kSide, kSide);
        const std::string message = ended.output.compare(0, lines.size(), lines) == 0
                                        ? ended.output.substr(lines.size())
                                        : ended.output;
        const std::string start = "\nOut of memory allocating ";
        const std::string end = " bytes\n";
        EXPECT_TRUE(message.size() > start.size() + end.size() &&
                    message.compare(0, start.size(), start) == 0 &&
                    message.compare(message.size() - end.size(), end.size(), end) == 0 &&
                    message.find_first_not_of("0123456789", start.size()) ==
                        message.size() - end.size())
            << ended.output;
        EXPECT_EQ(scene.files(), before);
        EXPECT_EQ(read_bytes(scene.folder.path / "big.m32"), scene.old_output);
    }
    EXPECT_TRUE(converted);
    EXPECT_GT(out_of_memory, 0);
#endif
}

// With no file descriptor to spare the template cannot be opened, which is not its absence.
TEST(ProcessLimits, TooFewOpenFilesAreNotAMissingTemplate) {
    if (under_emulator()) {
        GTEST_SKIP() << "a limit on open files binds the emulator as much as varnel";
    }
    LargeScene scene;
    const std::vector<std::string> before = scene.files();
    const Ended ended = run_limited(scene.folder.path, {"big.tga"}, {RLIMIT_NOFILE, 4});
    ASSERT_TRUE(WIFEXITED(ended.status));
    EXPECT_EQ(WEXITSTATUS(ended.status), 255);
    EXPECT_EQ(ended.output, progress("big.tga", kSide, kSide) +
                                "4096x4096.m32 is too short to be a resolution template !\n");
    EXPECT_EQ(scene.files(), before);
}

}  // namespace
}  // namespace varnel::testing
#endif
