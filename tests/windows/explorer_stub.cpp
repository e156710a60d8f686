// Stands in for Windows Explorer in the Wine checks. Named explorer.exe, it starts the varnel.exe
// beside it with the rest of its own command line as it is, as Explorer hands the names of dropped
// files to a program, and ends with varnel's exit code.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

int main() {
    const std::wstring line = GetCommandLineW();
    // Its own name comes first, in quotes or up to the first space.
    std::size_t rest = 0;
    if (!line.empty() && line[0] == L'"') {
        rest = line.find(L'"', 1);
        rest = rest == std::wstring::npos ? line.size() : rest + 1;
    } else {
        rest = line.find(L' ');
        rest = rest == std::wstring::npos ? line.size() : rest;
    }
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path(self, length);
    std::wstring command =
        L"\"" + path.substr(0, path.find_last_of(L'\\') + 1) + L"varnel.exe\"" + line.substr(rest);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process) == 0) {
        return 2;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
