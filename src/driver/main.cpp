#include <cstdio>
#include <string>
#include <vector>

#include "driver/run.hpp"

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return varnel::driver::run(arguments, stdout);
}
