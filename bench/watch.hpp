// The live loop against its target: from an editor's save of a 1024 x 1024 texture in a watched
// folder to the new M32 file in place.
#pragma once

#include <string>

namespace bench {

// Runs `varnel --watch` on a folder in `scratch`, saves the texture `saves` times and prints the
// times from each save's close to its output's rename. Returns false when a save did not convert.
bool benchmark_watch(const std::string& varnel, const std::string& scratch, int saves);

}  // namespace bench
