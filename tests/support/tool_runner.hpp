// Running the built varnel the way a user does: in a folder of its own, with its standard output
// captured byte for byte and its exit status as the caller sees it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace varnel::testing {

struct ToolRun {
    int status = -1;     // the low 8 bits of the exit status: -1 reads as 255
    std::string output;  // standard output, bytes as written (CR LF line ends on Windows)
    std::string errors;  // standard error
};

// The words that start the built varnel: its path, behind the emulator and the emulator's
// arguments when the tests run a cross build under one on the build machine.
std::vector<std::string> varnel_command();

// Runs varnel with `arguments` in `folder`, through the program and arguments `before` where
// there are any. The captured output is kept outside that folder, so that the folder holds only
// what the run left there.
ToolRun run_varnel(const std::filesystem::path& folder, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& before = {});

#ifndef _WIN32
// A limit on the started process (setrlimit), such as RLIMIT_FSIZE.
struct ProcessLimit {
    int resource;
    std::uint64_t value;
};

// varnel started in `folder` and left running, with its standard output on a pipe, as a shell
// starts a program in the foreground: only the standard streams open and the signals that stop
// programs at their defaults. Under qemu-user the process is qemu, which runs varnel in itself:
// a signal to it reaches the conversion.
struct StartedVarnel {
    int pid = -1;
    int output = -1;  // read end of the pipe
};

// `closed_stream` (0, 1 or 2) is a standard stream the process starts without.
StartedVarnel start_varnel(const std::filesystem::path& folder,
                           const std::vector<std::string>& arguments,
                           const ProcessLimit* limit = nullptr, int closed_stream = -1);
#endif

// The platform's line end for text the tool prints: "\r\n" on Windows, "\n" elsewhere.
std::string text_lines(const std::string& text_with_lf);

// A new, empty folder under the system's temporary folder, removed with its contents when the
// returned object goes.
struct TempFolder {
    std::filesystem::path path;
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

std::string read_bytes(const std::filesystem::path& file);
void write_bytes(const std::filesystem::path& file, const std::string& bytes);

// Every regular file below `folder`, as names relative to it, sorted.
std::vector<std::string> list_files(const std::filesystem::path& folder);

}  // namespace varnel::testing
