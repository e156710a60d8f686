// The conversion paths against each other: whole conversions of 8192 x 8192 images run in this
// process with each vector path the build and processor have, so that each path can be held to
// what it saves over the one below it.
#pragma once

#include <string>

namespace bench {

// Converts each kind of image in `scratch` with every path, `runs` times in turn, and prints the
// medians and each path's time against the path below it. Returns false when a conversion failed.
bool benchmark_paths(const std::string& scratch, int runs);

}  // namespace bench
