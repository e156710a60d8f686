// Converting many files in one run, several at a time.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/convert.hpp"

namespace varnel::driver {

// Converts every named file with up to `workers` conversions at a time. Each file's lines (its
// progress lines, or its message) come out together and in the order of the names, whatever
// order the work is done in; the lines of the first file are shown as they come. Names that
// lead to the same output are converted one after another in their order, so that the output
// ends as the last of them makes it. Returns the status of the first file that failed, or 0.
int convert_all(const Settings& settings, const std::vector<std::string>& names, unsigned workers,
                std::FILE* out);

}  // namespace varnel::driver
