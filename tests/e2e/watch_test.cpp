// --watch: after what --update -r would convert, each file saved below the folders named converts
// once its writer is done with it, until the run is asked to stop.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include "scene.hpp"
#include "tga_builder.hpp"

namespace varnel::testing {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// varnel --watch, read as it prints.
class Watching {
public:
    Watching(const Scene& scene, const std::vector<std::string>& arguments)
        : child_(scene.start(arguments)) {}
    ~Watching() {
        if (child_.pid > 0) {
            ::kill(child_.pid, SIGKILL);
            ::waitpid(child_.pid, nullptr, 0);
        }
        ::close(child_.output);
    }

    // Everything printed until `text` has come, or `seconds` have passed.
    std::string until(const std::string& text, double seconds = 10) {
        const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(seconds));
        while (seen_.find(text) == std::string::npos && Clock::now() < end) {
            read_for(end);
        }
        return seen_;
    }
    // Everything printed within the next `seconds`.
    std::string within(double seconds) {
        const Clock::time_point end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                         std::chrono::duration<double>(seconds));
        while (Clock::now() < end) {
            read_for(end);
        }
        return seen_;
    }
    // The exit status once the signal has ended the run, or -1 when it has not within seconds.
    int stop(int signal) {
        ::kill(child_.pid, signal);
        int status = 0;
        for (int i = 0; i < 1000; ++i) {
            if (::waitpid(child_.pid, &status, WNOHANG) == child_.pid) {
                child_.pid = -1;
                within(0.05);
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    void read_for(Clock::time_point end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        pollfd output{child_.output, POLLIN, 0};
        if (::poll(&output, 1, static_cast<int>(std::max<long long>(left.count(), 0))) > 0) {
            char buffer[4096];
            const ssize_t got = ::read(child_.output, buffer, sizeof buffer);
            if (got > 0) {
                seen_.append(buffer, static_cast<std::size_t>(got));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }

    StartedVarnel child_;
    std::string seen_;
};

std::string m32_of(const std::string& header_name, const std::string& tpl, std::uint16_t width,
                   std::uint16_t height, unsigned seed) {
    return m32_header_start(header_name) + tpl.substr(256, 712) +
           classic_records(width, height, seed);
}

// Writes a file in pieces with pauses between them, as a slow editor saves it: in one opening,
// or opening it again for each piece.
void write_slowly(const fs::path& file, const std::string& bytes, bool reopening) {
    std::ofstream out;
    for (std::size_t at = 0; at < bytes.size(); at += 11) {
        if (!out.is_open()) {
            out.open(file,
                     std::ios::binary | (reopening && at > 0 ? std::ios::app : std::ios::trunc));
        }
        out.write(bytes.data() + at,
                  static_cast<std::streamsize>(std::min<std::size_t>(11, bytes.size() - at)));
        out.flush();
        if (reopening) {
            out.close();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
    }
}

bool unfinished_left(const fs::path& folder) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.path().extension() == ".tmp") {
            return true;
        }
    }
    return false;
}

TEST(Watch, EverySaveBecomesAnOutputOnceItsWriterIsDone) {
    const Scene scene("mod");
    const std::string tpl = scene.put_template(4, 2);
    scene.put("tex/stone/wall.tga", classic_tga(4, 2, 1));
    scene.put("tex/stone/old.tga", classic_tga(4, 2, 2));
    ASSERT_EQ(scene.run({"tex/stone/old.tga"}).status, 0);
    fs::rename(scene.dir() / "tex/stone/old.m32", scene.dir() / "tex/stone/kept.m32");
    Watching watch(scene, {"--watch", "tex"});
    // First what --update -r converts: wall.tga, which has no output; old.tga has none either.
    const std::string first =
        "In tex/stone:\n" + progress_lines("old.tga", 4, 2) + progress_lines("wall.tga", 4, 2);
    EXPECT_EQ(watch.until(first), first);
    std::string expected = first;

    const struct {
        const char* what;
        std::string folder;
        std::function<void(const fs::path&, const std::string&)> save;
    } saves[] = {
        {"written and closed", "stone",
         [](const fs::path& file, const std::string& bytes) { write_bytes(file, bytes); }},
        {"written beside and moved in", "stone",
         [](const fs::path& file, const std::string& bytes) {
             write_bytes(file.parent_path() / ".wall.tga.swp", bytes);
             fs::rename(file.parent_path() / ".wall.tga.swp", file);
         }},
        {"written slowly in one opening", "stone",
         [](const fs::path& file, const std::string& bytes) { write_slowly(file, bytes, false); }},
        {"written slowly, opened for each piece", "stone",
         [](const fs::path& file, const std::string& bytes) { write_slowly(file, bytes, true); }},
        {"in a folder that has come", "wood",
         [](const fs::path& file, const std::string& bytes) {
             // Walked as it comes, before the file in it is saved: the save converts once.
             fs::create_directory(file.parent_path());
             std::this_thread::sleep_for(std::chrono::milliseconds(300));
             write_bytes(file, bytes);
         }},
    };
    unsigned seed = 10;
    for (const auto& save : saves) {
        SCOPED_TRACE(save.what);
        ++seed;
        const std::string name = save.folder == "stone" ? "wall.tga" : "oak.tga";
        save.save(scene.dir() / "tex" / save.folder / name, classic_tga(4, 2, seed));
        if (save.folder != "stone" || expected.rfind("In tex/stone:\n") < expected.rfind("In ")) {
            expected += "In tex/" + save.folder + ":\n";
        }
        expected += progress_lines(name, 4, 2);
        // Its own output and new file come and go: they convert nothing more.
        EXPECT_EQ(watch.until(expected), expected);
        EXPECT_EQ(watch.within(0.3), expected);
        EXPECT_TRUE(
            scene.read("tex/" + save.folder + "/" + name.substr(0, name.size() - 3) + "m32") ==
            m32_of(save.folder + "/" + name.substr(0, name.size() - 3) + "m32", tpl, 4, 2, seed));
    }
    // What is not a TGA file is left alone; a file that stays damaged is said once its writer
    // has left it so.
    scene.put("tex/stone/notes.txt", "not a texture");
    scene.put("tex/stone/cut.tga", classic_tga(4, 2, 3).substr(0, 30));
    expected += "In tex/stone:\n" + progress_lines("cut.tga", 4, 2) +
                "cut.tga is damaged (pixel data ends early) !\n";
    EXPECT_EQ(watch.until(expected), expected);
    // qemu-i386 7.2 fails pthread_join with EDEADLK in a program that has handled a signal while
    // it had other threads, as this watch has by now; its status is checked everywhere else.
    const int stopped = watch.stop(SIGINT);
    if (varnel_command().front() != "qemu-i386") {
        EXPECT_EQ(stopped, 0);
    }
    EXPECT_FALSE(unfinished_left(scene.dir()));
}

// A folder renamed is watched under its new name, and one moved out of the tree no more; a
// path.ini above the folder named is watched too; a file damaged and then saved whole at once is
// not said to be damaged.
TEST(Watch, FoldersThatMoveAndThePathIniAboveAreFollowed) {
    const Scene scene("mod");
    scene.put_template(4, 2);
    scene.put("tex/a/x.tga", classic_tga(4, 2, 1));
    ASSERT_EQ(scene.run({"-r", "tex"}).status, 0);
    Watching watch(scene, {"--watch", "tex"});
    EXPECT_EQ(watch.within(0.3), "");
    fs::rename(scene.dir() / "tex/a", scene.dir() / "tex/b");
    // The folder renamed is walked as --update would before the save, which is converted once.
    watch.within(0.3);
    scene.put("tex/b/y.tga", classic_tga(4, 2, 2));
    std::string expected = "In tex/b:\n" + progress_lines("y.tga", 4, 2);
    EXPECT_EQ(watch.until(expected), expected);

    scene.put("tex/b/w.tga", classic_tga(4, 2, 3).substr(0, 30));
    watch.within(0.2);
    write_bytes(scene.dir() / "tex/b/.w.tga.new", classic_tga(4, 2, 3));
    fs::rename(scene.dir() / "tex/b/.w.tga.new", scene.dir() / "tex/b/w.tga");
    expected += progress_lines("w.tga", 4, 2);
    watch.until(expected);
    EXPECT_EQ(watch.within(1), expected) << "the first save of w.tga was said to be damaged";

    fs::create_directory(scene.root() / "outside");
    fs::rename(scene.dir() / "tex/b", scene.root() / "outside/b");
    write_bytes(scene.root() / "outside/b/z.tga", classic_tga(4, 2, 4));
    EXPECT_EQ(watch.within(0.3), expected);

    fs::create_directory(scene.dir() / "tex/c");
    watch.within(0.3);
    scene.put("tex/c/v.tga", classic_tga(4, 2, 5));
    expected += "In tex/c:\n" + progress_lines("v.tga", 4, 2);
    EXPECT_EQ(watch.until(expected), expected);
    fs::last_write_time(scene.dir() / "tex/c/v.m32",
                        fs::last_write_time(scene.dir() / "tex/c/v.m32") - std::chrono::hours(1));
    scene.put("path.ini", "../tpl/");
    expected += progress_lines("v.tga", 4, 2);
    EXPECT_EQ(watch.until(expected), expected);
    EXPECT_EQ(watch.stop(SIGTERM), 0);
}

// A file that its writer is still saving as the watch begins is not said to be damaged once the
// writer has saved it whole.
TEST(Watch, AFileBeingSavedAsTheWatchBeginsIsNotSaidToBeDamaged) {
    const Scene scene("mod");
    const std::string tpl = scene.put_template(4, 2);
    scene.put("tex/b/w.tga", classic_tga(4, 2, 3).substr(0, 30));
    Watching watch(scene, {"--watch", "tex"});
    EXPECT_EQ(watch.within(0.2), "");
    scene.put("tex/b/w.tga", classic_tga(4, 2, 3));
    const std::string expected = "In tex/b:\n" + progress_lines("w.tga", 4, 2);
    watch.until(expected);
    EXPECT_EQ(watch.within(1), expected) << "w.tga was said to be damaged";
    EXPECT_TRUE(scene.read("tex/b/w.m32") == m32_of("b/w.m32", tpl, 4, 2, 3));
    EXPECT_EQ(watch.stop(SIGTERM), 0);
}

// Ended while it writes a large output, the run lets that conversion end whole, leaves no new
// file behind and ends with status 0.
TEST(Watch, EndedWhileItConvertsItLeavesTheOutputWhole) {
    const Scene scene("mod");
    const std::string tpl = scene.put_template(4096, 4096);
    scene.put("tex/big.tga", classic_tga(4096, 4096, 1));
    ASSERT_EQ(scene.run({"-r", "tex"}).status, 0);
    const std::string old = scene.read("tex/big.m32");
    Watching watch(scene, {"--watch", "tex"});
    watch.within(0.3);
    scene.put("tex/big.tga", classic_tga(4096, 4096, 2));
    watch.until("bytes in memory\n");
    const auto until = Clock::now() + std::chrono::seconds(5);
    while (!unfinished_left(scene.dir()) && Clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    EXPECT_EQ(watch.stop(SIGTERM), 0);
    EXPECT_FALSE(unfinished_left(scene.dir()));
    const std::string left = scene.read("tex/big.m32");
    EXPECT_TRUE(left == old || left == m32_of("tex/big.m32", tpl, 4096, 4096, 2))
        << "the output holds " << left.size() << " bytes";
}

// A tree with more folders than the system lets be watched is said, with the limit to raise.
// The limit is lowered for one run in a user namespace of its own.
TEST(Watch, TooFewWatchesForTheTreeAreSaid) {
    const Scene scene("mod");
    for (const char* folder : {"a", "b", "c", "d"}) {
        fs::create_directories(scene.dir() / "tex" / folder);
    }
    const std::string lowered = "echo 3 > /proc/sys/user/max_inotify_watches && exec \"$0\" \"$@\"";
    if (scene.run({"--version"}, {"unshare", "-U", "-r", "sh", "-c", lowered}).status != 0) {
        GTEST_SKIP() << "no user namespace of its own can be made here";
    }
    const Files before = scene.files();
    const ToolRun run = scene.run({"--watch", "tex"}, {"unshare", "-U", "-r", "sh", "-c", lowered});
    // The three watches go to the current directory, which may hold the path.ini above tex, to
    // tex and to tex/a.
    EXPECT_EQ(run.output,
              "Couldn't watch tex/b: the system lets too few folders be watched for this "
              "tree; raise fs.inotify.max_user_watches !\n");
    EXPECT_EQ(run.status, 255);
    EXPECT_TRUE(scene.files() == before);
}

}  // namespace
}  // namespace varnel::testing
#endif
