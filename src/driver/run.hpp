// One conversion, from the command line's arguments to the M32 file and the exit status.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace varnel::driver {

// `arguments` are those after the program's name; only the first is used. Progress and every
// message go to `out`. Returns the exit status.
int run(const std::vector<std::string>& arguments, std::FILE* out);

// The program's allocations note the size of one that fails, on the thread that asked for it,
// so that the message can name it.
void note_failed_allocation(std::size_t bytes);

// Prints the message for an allocation that failed and returns its status.
int report_out_of_memory(std::FILE* out);

}  // namespace varnel::driver
