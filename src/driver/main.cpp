#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "driver/run.hpp"

int main(int argc, char** argv) {
#ifdef _WIN32
    // Names arrive in the ANSI code page; with the user's locale, file names and the current
    // directory are converted in that same code page, not byte for byte.
    std::setlocale(LC_CTYPE, "");
#endif
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return varnel::driver::run(arguments, stdout);
}
