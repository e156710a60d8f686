// The live loop: folders watched, so that every file saved below them becomes its output.
#pragma once

#include <cstdio>

#include "driver/options.hpp"

namespace varnel::driver {

// Converts what a run over the folders named with --update would, then watches their trees and
// converts each file once it has been saved, with the lines a run over the folders prints, until
// the program is asked to stop (Ctrl-C, a termination request, the console closed): a
// conversion under way then ends whole. Returns 0, or -1 where the system cannot watch them.
int watch_folders(const Options& options, unsigned workers, std::FILE* out);

}  // namespace varnel::driver
