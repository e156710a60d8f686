// A run of varnel, from the command line's arguments to the files it writes and its exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace varnel::driver {

// `arguments` are those after the program's name: the names of the files to convert, and the
// options. Progress and every message go to `out`. Returns the exit status.
int run(const std::vector<std::string>& arguments, std::FILE* out);

// Prints the message for an allocation that failed and returns its status.
int report_out_of_memory(std::FILE* out);

}  // namespace varnel::driver
