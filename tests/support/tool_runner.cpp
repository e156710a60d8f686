#include "tool_runner.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace varnel::testing {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
// Test binaries run under Wine may be given the executable as a Unix path; Wine maps / to Z:.
std::string native_path(const std::string& path) {
    std::string p = path;
    if (!p.empty() && p[0] == '/') {
        p = "Z:" + p;
    }
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::string quote(const std::string& text) {
    return "\"" + text + "\"";
}

int exit_status(int system_result) {
    return system_result & 0xFF;
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

int exit_status(int system_result) {
    return WIFEXITED(system_result) ? WEXITSTATUS(system_result) : 128 + WTERMSIG(system_result);
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

ToolRun run_varnel(const fs::path& folder, const std::vector<std::string>& arguments) {
    TempFolder capture;
    const fs::path out_file = capture.path / "stdout";
    const fs::path err_file = capture.path / "stderr";
    std::string command = quote(native_path(VARNEL_EXE));
    for (const std::string& argument : arguments) {
        command += " " + quote(argument);
    }
    command += " > " + quote(out_file.string()) + " 2> " + quote(err_file.string());
#ifdef _WIN32
    // cmd /c drops the outermost quotes of its command line.
    command = "\"" + command + "\"";
#endif
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const int result = std::system(command.c_str());
    fs::current_path(previous);

    ToolRun run;
    run.status = exit_status(result);
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

}  // namespace varnel::testing
