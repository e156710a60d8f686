// Converting many files in one run, several at a time.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "driver/job.hpp"

namespace varnel::driver {

// Converts every job's file with up to `workers` conversions at a time. Each job's lines (a
// file's progress lines and its message, or the line said in its place) come out together and in
// the order of the jobs, whatever order the work is done in; the lines of the first are shown as
// they come. Files that depend on each other keep their order (see schedule.hpp). Returns the
// status of the first job that failed, or 0.
int convert_all(const std::vector<Job>& jobs, unsigned workers, std::FILE* out);

}  // namespace varnel::driver
