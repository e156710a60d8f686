// Converting many files in one run, several at a time.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/convert.hpp"

namespace varnel::driver {

// Converts every job's file with up to `workers` conversions at a time. Each file's lines (its
// progress lines, or its message) come out together and in the order of the jobs, whatever
// order the work is done in; the lines of the first file are shown as they come. Files that
// depend on each other keep their order (see schedule.hpp). Returns the status of the first file
// that failed, or 0.
int convert_all(const Settings& settings, const std::vector<Job>& jobs, unsigned workers,
                std::FILE* out);

}  // namespace varnel::driver
