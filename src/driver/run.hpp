// One conversion, from the command line's arguments to the M32 file and the exit status.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace varnel::driver {

// `arguments` are those after the program's name; only the first is used. Progress and every
// message go to `out`. Returns the exit status.
int run(const std::vector<std::string>& arguments, std::FILE* out);

}  // namespace varnel::driver
