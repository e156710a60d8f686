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

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kSide = 4096;  // an output of 64 MiB: a run long enough to catch

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

Ended run_limited(const Scene& scene, const std::vector<std::string>& arguments,
                  ProcessLimit limit) {
    return finish(scene.start(arguments, &limit));
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
    Scene scene = Scene::with_templates_here();
    std::string old_output = template_bytes(3000, 17);
    LargeScene() {
        scene.put("big.tga", classic_tga(kSide, kSide));
        scene.put_template(kSide, kSide);
        scene.put("big.m32", old_output);
    }
    const fs::path& dir() const {
        return scene.dir();
    }
    // The names alone: the files are large, and some checks run after every one of many runs.
    std::vector<std::string> names() const {
        return list_files(scene.dir());
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
        {SIGIO, {"big.tga"}},
        {SIGPWR, {"big.tga"}},
        {SIGSYS, {"big.tga"}},
        {SIGTRAP, {"big.tga"}},
        {SIGABRT, {"big.tga"}},
        {SIGSTKFLT, {"big.tga"}},
        {SIGUSR1, {"big.tga"}},
        {SIGTERM, {"-j", "2", "big.tga", "copy.tga"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(strsignal(c.signal)) + ", " + c.arguments.back());
        LargeScene large;
        fs::copy_file(large.dir() / "big.tga", large.dir() / "copy.tga");
        const std::vector<std::string> before = large.names();
        bool interrupted = false;
        for (int attempt = 0; attempt < 5 && !interrupted; ++attempt) {
            const StartedVarnel child = large.scene.start(c.arguments);
            if (wait_for_new_file(large.dir(), child.pid)) {
                ::kill(child.pid, c.signal);
            }
            const Ended ended = finish(child);
            interrupted = WIFSIGNALED(ended.status);
            if (interrupted) {
                EXPECT_EQ(WTERMSIG(ended.status), c.signal);
                EXPECT_EQ(large.scene.read("big.m32"), large.old_output);
            }
            for (const std::string& name : large.names()) {
                EXPECT_TRUE(name == "copy.m32" ||
                            std::find(before.begin(), before.end(), name) != before.end())
                    << name;
            }
        }
        EXPECT_TRUE(interrupted) << "every run ended before its signal came";
    }
}

TEST(Interruption, FileSizeLimitIsAWriteErrorAndLeavesNothing) {
    LargeScene large;
    const Files before = large.scene.files();
    const Ended ended = run_limited(large.scene, {"big.tga"}, {RLIMIT_FSIZE, 1u << 20});
    ASSERT_TRUE(WIFEXITED(ended.status));
    EXPECT_EQ(WEXITSTATUS(ended.status), 255);
    EXPECT_EQ(ended.output,
              progress_lines("big.tga", kSide, kSide) + line("Error writing big.m32.\n"));
    EXPECT_TRUE(large.scene.files() == before) << "a file was changed, made or removed";
}

// Someone who may rename files in the output's folder swaps the new file's name for a link to a
// file of theirs choosing while the data is written. The mode, owner and group of the new file
// are set through the open file, so the link's target keeps its own; the name no longer names
// varnel's file at the end, so nothing is renamed over the output.
TEST(SwappedName, OnlyWhatVarnelMadeIsTouched) {
    bool swapped = false;
    for (int attempt = 0; attempt < 5 && !swapped; ++attempt) {
        LargeScene large;
        // Beside the output's folder: a file of someone else's, and where varnel's file is taken.
        large.scene.put("../elsewhere/victim", "not varnel's");
        const fs::path elsewhere = large.scene.root() / "elsewhere";
        const fs::path victim = elsewhere / "victim";
        ::chmod(victim.c_str(), 0600);
        ::chmod((large.dir() / "big.m32").c_str(), 0666);
        const StartedVarnel child = large.scene.start({"big.tga"});
        const std::optional<fs::path> name = wait_for_new_file(large.dir(), child.pid);
        if (name && ::kill(child.pid, SIGSTOP) == 0 && fs::exists(*name)) {
            fs::rename(*name, elsewhere / "taken");
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
        EXPECT_EQ(ended.output,
                  progress_lines("big.tga", kSide, kSide) + line("Error writing big.m32.\n"));
        EXPECT_EQ(large.scene.read("big.m32"), large.old_output);
        EXPECT_TRUE(fs::is_symlink(*name)) << "the link put in its place is someone else's";
        struct stat info {};
        ASSERT_EQ(::stat(victim.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0600u);
        EXPECT_EQ(large.scene.read("../elsewhere/victim"), "not varnel's");
    }
    EXPECT_TRUE(swapped) << "every run ended before its new file could be taken";
}

// Root replacing a user's file leaves it the user's, mode, owner and group.
TEST(ReplacedOutput, KeepsItsOwnerAndGroupWhenRootReplacesIt) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "only root may give a file to another user";
    }
    const Scene scene = Scene::with_templates_here();
    scene.put("pic.tga", classic_tga(4, 2));
    scene.put_template(4, 2);
    scene.put("pic.m32", "the user's earlier output");
    const fs::path output = scene.dir() / "pic.m32";
    ASSERT_EQ(::chown(output.c_str(), 4321, 8765), 0);
    ASSERT_EQ(::chmod(output.c_str(), 0640), 0);

    const ToolRun run = scene.run({"pic.tga"});
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
         progress_lines("pic.tga", 4, 2) +
             line("Couldn't locate " + long_line + "4x2.m32. Make sure it's in this dir.\n")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Scene scene("stone", std::nullopt);
        scene.put("pic.tga", classic_tga(4, 2));
        c.make(scene.dir() / "path.ini");
        const Files before = scene.files();
        const auto started = Clock::now();
        const ToolRun run = scene.run({"pic.tga"});
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(run.status, 255);
        EXPECT_TRUE(run.output == c.output) << run.output.substr(0, 200);
        EXPECT_EQ(run.errors, "");
        EXPECT_TRUE(scene.files() == before) << "a file was changed, made or removed";
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
    LargeScene large;
    const std::vector<std::string> before = large.names();
    int out_of_memory = 0;
    bool converted = false;
    for (rlim_t limit = 1u << 20; limit <= (64u << 20) && !converted; limit += 256u << 10) {
        SCOPED_TRACE(std::to_string(limit) + " bytes of address space");
        const Ended ended = run_limited(large.scene, {"big.tga"}, {RLIMIT_AS, limit});
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
        const std::string lines = progress_lines("big.tga", kSide, kSide);
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
        EXPECT_EQ(large.names(), before);
        EXPECT_EQ(large.scene.read("big.m32"), large.old_output);
    }
    EXPECT_TRUE(converted);
    EXPECT_GT(out_of_memory, 0);
#endif
}

// With no file descriptor to spare the template cannot be opened, which is not its absence.
TEST(ProcessLimits, TooFewOpenFilesAreNotAMissingTemplate) {
#ifdef VARNEL_ADDRESS_SANITIZER
    GTEST_SKIP() << "the sanitizers' check of an object's type opens a pipe, which four open "
                    "files leave no room for";
#endif
    if (under_emulator()) {
        GTEST_SKIP() << "a limit on open files binds the emulator as much as varnel";
    }
    LargeScene large;
    const Files before = large.scene.files();
    const Ended ended = run_limited(large.scene, {"big.tga"}, {RLIMIT_NOFILE, 4});
    ASSERT_TRUE(WIFEXITED(ended.status));
    EXPECT_EQ(WEXITSTATUS(ended.status), 255);
    EXPECT_EQ(ended.output, progress_lines("big.tga", kSide, kSide) +
                                line("4096x4096.m32 is too short to be a resolution template !\n"));
    EXPECT_TRUE(large.scene.files() == before) << "a file was changed, made or removed";
}

// Many workers making many small files, interrupted at any moment: the run always ends as the
// signal asks, at once, and leaves no unfinished file.
TEST(Interruption, EndsAtOnceWhileManyWorkersMakeNewFiles) {
    const Scene scene = Scene::with_templates_here();
    scene.put_template(16, 16);
    std::vector<std::string> arguments = {"-j", "4"};
    for (int i = 0; i < 300; ++i) {
        arguments.push_back("t" + std::to_string(i) + ".tga");
        scene.put(arguments.back(), classic_tga(16, 16, static_cast<unsigned>(i)));
    }
    for (int run = 0; run < 20; ++run) {
        const StartedVarnel child = scene.start(arguments);
        std::this_thread::sleep_for(std::chrono::microseconds(500 * run));
        ::kill(child.pid, SIGTERM);
        const auto started = Clock::now();
        const Ended ended = finish(child);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
        EXPECT_TRUE(WIFEXITED(ended.status) ||
                    (WIFSIGNALED(ended.status) && WTERMSIG(ended.status) == SIGTERM));
        for (const std::string& name : list_files(scene.dir())) {
            ASSERT_EQ(name.rfind(".varnel-", 0), std::string::npos) << "run " << run;
        }
    }
}

// A folder everyone may write to, with the sticky bit, like /tmp: another user's link planted as
// the output would lead root's output onto a file of that user's choosing. The system follows
// such a link only for its owner or the folder's, and varnel does the same; root's own link there
// is followed.
TEST(StickyFolder, AnotherUsersLinkAsTheOutputIsNotFollowed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs a link owned by another user";
    }
    for (const uid_t link_owner : {uid_t{65534}, uid_t{0}}) {
        SCOPED_TRACE("link owned by " + std::to_string(link_owner));
        // The current directory is the shared folder; root's file lies outside it.
        const Scene scene = Scene::with_templates_here();
        scene.put("../victim", "root's own");
        const fs::path victim = scene.root() / "victim";
        ::chmod(victim.c_str(), 0600);
        ::chmod(scene.dir().c_str(), 01777);
        scene.put("a.tga", classic_tga(4, 2));
        scene.put_template(4, 2);
        fs::create_symlink(victim, scene.dir() / "a.m32");
        ASSERT_EQ(::lchown((scene.dir() / "a.m32").c_str(), link_owner, link_owner), 0);
        const ToolRun run = scene.run({"a.tga"});
        EXPECT_TRUE(fs::is_symlink(scene.dir() / "a.m32"));
        if (link_owner != 0) {
            EXPECT_EQ(run.status, 255);
            EXPECT_EQ(run.output,
                      progress_lines("a.tga", 4, 2) + line("Error opening a.m32 for writing.\n"));
            EXPECT_EQ(scene.read("../victim"), "root's own");
            EXPECT_EQ(std::distance(fs::directory_iterator(scene.dir()), fs::directory_iterator()),
                      4)
                << "a new file left";
        } else {
            EXPECT_EQ(run.status, 0) << run.output;
            EXPECT_EQ(fs::file_size(victim), 968u + 4 * 4 * 2);
        }
    }
}

// A link whose target is not there yet stays a link, and its target is made.
TEST(DanglingLink, AsTheOutputGetsItsTargetMade) {
    const Scene scene = Scene::with_templates_here();
    scene.put("a.tga", classic_tga(4, 2));
    scene.put_template(4, 2);
    fs::create_directory(scene.dir() / "real");
    fs::create_symlink("real/a-target.m32", scene.dir() / "a.m32");
    const ToolRun run = scene.run({"a.tga"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, progress_lines("a.tga", 4, 2));
    EXPECT_TRUE(fs::is_symlink(scene.dir() / "a.m32"));
    EXPECT_EQ(fs::read_symlink(scene.dir() / "a.m32"), "real/a-target.m32");
    EXPECT_EQ(fs::file_size(scene.dir() / "real" / "a-target.m32"), 968u + 4 * 4 * 2);
    EXPECT_EQ(list_files(scene.dir() / "real"), std::vector<std::string>{"a-target.m32"});
}

// The new file of a private output is as private as the output from the moment it exists, so
// that no one can open it meanwhile and keep reading what it holds after the rename.
TEST(NewFile, IsNoMoreOpenThanTheOutputWhileItIsWritten) {
    for (const ::mode_t mode : {::mode_t{0600}, ::mode_t{0640}}) {
        LargeScene large;
        ::chmod((large.dir() / "big.m32").c_str(), mode);
        const StartedVarnel child = large.scene.start({"big.tga"});
        const std::optional<fs::path> name = wait_for_new_file(large.dir(), child.pid);
        struct stat info {};
        const bool seen = name && ::stat(name->c_str(), &info) == 0;
        const Ended ended = finish(child);
        ASSERT_TRUE(seen) << "the run ended before its new file was seen";
        EXPECT_EQ(info.st_mode & 0077 & ~mode, 0u) << std::oct << (info.st_mode & 07777);
        EXPECT_EQ(WEXITSTATUS(ended.status), 0);
    }
}

// Started without standard input, output or error, varnel puts the null device in their place
// before it opens a file, so that no file it opens takes one of them: its lines never go into a
// file it writes.
TEST(StandardStreams, ThatAreClosedAreTheNullDevice) {
    if (under_emulator()) {
        GTEST_SKIP() << "the emulator opens files of its own in their place";
    }
    for (const int stream : {0, 1, 2}) {
        SCOPED_TRACE("stream " + std::to_string(stream));
        LargeScene large;
        const StartedVarnel child = large.scene.start({"big.tga"}, nullptr, stream);
        const bool seen = wait_for_new_file(large.dir(), child.pid).has_value();
        const fs::path fd = "/proc/" + std::to_string(child.pid) + "/fd/" + std::to_string(stream);
        std::error_code ec;
        const fs::path target = fs::read_symlink(fd, ec);
        const Ended ended = finish(child);
        ASSERT_TRUE(seen);
        EXPECT_EQ(target, "/dev/null");
        EXPECT_EQ(WEXITSTATUS(ended.status), 0);
        EXPECT_EQ(ended.output, stream == 1 ? "" : progress_lines("big.tga", kSide, kSide));
        const std::string output = large.scene.read("big.m32");
        EXPECT_EQ(output.substr(0, 4), std::string("\4\0\0\0", 4));
        EXPECT_EQ(output.find("Processing"), std::string::npos);
    }
}

// However few files the process may open, a run over many files converts every one: it runs no
// more workers than the limit holds.
TEST(ProcessLimits, FewOpenFilesStillConvertEveryFile) {
    if (under_emulator()) {
        GTEST_SKIP() << "a limit on open files binds the emulator as much as varnel";
    }
    const Scene scene = Scene::with_templates_here();
    scene.put_template(8, 8);
    std::vector<std::string> arguments = {"-j", "9999"};
    for (int i = 0; i < 300; ++i) {
        arguments.push_back("t" + std::to_string(i) + ".tga");
        scene.put(arguments.back(), classic_tga(8, 8));
    }
    const Ended ended = run_limited(scene, arguments, {RLIMIT_NOFILE, 20});
    ASSERT_TRUE(WIFEXITED(ended.status));
    EXPECT_EQ(WEXITSTATUS(ended.status), 0) << ended.output.substr(0, 300);
    EXPECT_EQ(list_files(scene.dir()).size(), 2u + 2 * 300);
}

// The same for a tree: a walk keeps only a few folders open however deep it goes, and the jobs
// waiting for a worker count in what the limit holds. A tree of 60 folders side by side, each
// with a file, and one 200 folders deep converts whole.
TEST(ProcessLimits, FewOpenFilesStillConvertEveryTree) {
    if (under_emulator()) {
        GTEST_SKIP() << "a limit on open files binds the emulator as much as varnel";
    }
    const Scene scene;
    scene.put_template(8, 8);
    for (int i = 0; i < 60; ++i) {
        scene.put("tex/side" + std::to_string(i) + "/t.tga", classic_tga(8, 8));
    }
    std::string deep = "tex";
    for (int i = 0; i < 200; ++i) {
        deep += "/d";
    }
    scene.put(deep + "/t.tga", classic_tga(8, 8));
    for (const char* workers : {"1", "2", "9999"}) {
        SCOPED_TRACE(std::string("-j ") + workers);
        const Ended ended = run_limited(scene, {"-j", workers, "-r", "tex"}, {RLIMIT_NOFILE, 24});
        ASSERT_TRUE(WIFEXITED(ended.status));
        EXPECT_EQ(WEXITSTATUS(ended.status), 0) << ended.output.substr(0, 300);
        EXPECT_EQ(ended.output.find("Couldn't"), std::string::npos) << ended.output.substr(0, 300);
        EXPECT_TRUE(fs::exists(scene.dir() / (deep + "/t.m32")));
        EXPECT_EQ(list_files(scene.dir()).size(), 1u + 2 * 61);
        for (const std::string& name : list_files(scene.dir())) {
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".m32") == 0) {
                fs::remove(scene.dir() / name);
            }
        }
    }
}

// An input that is there but cannot be opened is unreadable, not missing.
TEST(UnreadableInput, IsNotATgaFileRatherThanMissing) {
    const Scene scene = Scene::with_templates_here();
    fs::create_symlink("loop.tga", scene.dir() / "loop.tga");
    const ToolRun run = scene.run({"loop.tga"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, line("Processing loop.tga\nloop.tga is not a TGA file !\n"));
}

}  // namespace
}  // namespace varnel::testing
#endif
