// Texture sets: many files converted by one varnel run, against a shell loop of one run per
// file and against the I/O floor for the whole set.
#pragma once

#include <string>

namespace bench {

// Makes the sets in a folder under `scratch`, measures them `runs` times each and prints a
// table. Returns false when a conversion was wrong or a program failed.
bool benchmark_sets(const std::string& varnel, const std::string& self, const std::string& scratch,
                    int runs);

// The I/O floor for a set: io_floor for each of the (input, output, size) triples in turn.
int io_floor_set(int count, char** triples);

}  // namespace bench
