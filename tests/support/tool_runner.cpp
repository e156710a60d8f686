#include "tool_runner.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

namespace varnel::testing {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// Test programs run under Wine are given the executable as a Unix path; Wine maps / to Z:.
std::string native_path(const std::string& path) {
    std::string p = path;
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p;
    }
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

// One argument as the C runtime's command-line splitting gives it back unchanged: in quotes, with
// backslashes doubled only where they come before a quote.
std::string quote(const std::string& text) {
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int length = static_cast<int>(text.size());
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.data(), wide_length);
    return result;
}

class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    ~Handle() {
        if (valid()) {
            CloseHandle(handle_);
        }
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const {
        return handle_;
    }
    bool valid() const {
        return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

Handle inheritable_output(const fs::path& file) {
    SECURITY_ATTRIBUTES inherit{};
    inherit.nLength = sizeof inherit;
    inherit.bInheritHandle = TRUE;
    return Handle(CreateFileW(file.wstring().c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The tool is started directly rather than through cmd, so that no argument is read as cmd
// syntax (%, ^, quotes) and the exit code arrives unchanged. Returns the low 8 bits of it.
int run_command(const fs::path& folder, const std::string& command, const fs::path& out_file,
                const fs::path& err_file) {
    const Handle out = inheritable_output(out_file);
    const Handle err = inheritable_output(err_file);
    if (!out.valid() || !err.valid()) {
        throw std::runtime_error("cannot create the capture files in " +
                                 out_file.parent_path().string());
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    PROCESS_INFORMATION process{};
    std::wstring command_line = wide(command);
    if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        folder.wstring().c_str(), &startup, &process)) {
        const DWORD error = GetLastError();
        throw std::runtime_error("cannot start " + command + " (error " + std::to_string(error) +
                                 ")");
    }
    const Handle process_handle(process.hProcess);
    const Handle thread_handle(process.hThread);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code & 0xFFu);
}
#else
std::string native_path(const std::string& path) {
    return path;
}

std::string quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

int run_command(const fs::path& folder, const std::string& command, const fs::path& out_file,
                const fs::path& err_file) {
    const std::string redirected =
        command + " > " + quote(out_file.string()) + " 2> " + quote(err_file.string());
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const int result = std::system(redirected.c_str());
    fs::current_path(previous);
    return WIFEXITED(result) ? WEXITSTATUS(result) : 128 + WTERMSIG(result);
}
#endif

std::string unique_name() {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    return "varnel-test-" + std::to_string(device()) + "-" +
           std::to_string(static_cast<unsigned long long>(now) & 0xFFFFFFu) + "-" +
           std::to_string(counter++);
}

}  // namespace

std::vector<std::string> varnel_command() {
#ifdef VARNEL_EMULATOR
    std::vector<std::string> words{VARNEL_EMULATOR};
#else
    std::vector<std::string> words;
#endif
    words.push_back(native_path(VARNEL_EXE));
    return words;
}

ToolRun run_varnel(const fs::path& folder, const std::vector<std::string>& arguments,
                   const std::vector<std::string>& before) {
    TempFolder capture;
    const fs::path out_file = capture.path / "stdout";
    const fs::path err_file = capture.path / "stderr";
    std::vector<std::string> words = before;
    const std::vector<std::string> varnel = varnel_command();
    words.insert(words.end(), varnel.begin(), varnel.end());
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::string command;
    for (const std::string& word : words) {
        command += (command.empty() ? "" : " ") + quote(word);
    }
    ToolRun run;
    run.status = run_command(folder, command, out_file, err_file);
    run.output = read_bytes(out_file);
    run.errors = read_bytes(err_file);
    return run;
}

std::string text_lines(const std::string& text_with_lf) {
#ifdef _WIN32
    std::string text;
    for (char c : text_with_lf) {
        if (c == '\n') {
            text += '\r';
        }
        text += c;
    }
    return text;
#else
    return text_with_lf;
#endif
}

TempFolder::TempFolder() {
    path = fs::temp_directory_path() / unique_name();
    if (!fs::create_directory(path)) {
        throw std::runtime_error("cannot create " + path.string());
    }
}

TempFolder::~TempFolder() {
    std::error_code ec;
    // Tests may leave read-only files or folders behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path, ec);
}

std::string read_bytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_bytes(const fs::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        throw std::runtime_error("cannot write " + file.string());
    }
}

std::vector<std::string> list_files(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (entry.is_regular_file()) {
            names.push_back(fs::relative(entry.path(), folder).generic_string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

#ifndef _WIN32
StartedVarnel start_varnel(const fs::path& folder, const std::vector<std::string>& arguments,
                           const ProcessLimit* limit, int closed_stream) {
    std::vector<std::string> words = varnel_command();
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    int ends[2];
    if (::pipe(ends) != 0) {
        throw std::runtime_error("no pipe");
    }
    StartedVarnel child;
    child.pid = ::fork();
    if (child.pid == 0) {
        ::dup2(ends[1], 1);
        // Only the standard streams: a limit on open files counts whatever else is open.
        for (int fd = 3; fd < 1024; ++fd) {
            ::close(fd);
        }
        if (closed_stream >= 0) {
            ::close(closed_stream);
        }
        for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGXFSZ}) {
            std::signal(signal, SIG_DFL);
        }
        const rlim_t most = limit ? static_cast<rlim_t>(limit->value) : 0;
        const rlimit value{most, most};
        if (::chdir(folder.c_str()) == 0 &&
            (limit == nullptr || ::setrlimit(limit->resource, &value) == 0)) {
            ::execvp(argv[0], argv.data());
        }
        ::_exit(127);
    }
    ::close(ends[1]);
    child.output = ends[0];
    return child;
}
#endif

}  // namespace varnel::testing
