// The I/O floor: the least any converter must do. It reads the input once and writes a new file of
// the M32's size, in large blocks, into a temporary file beside the target that it then renames
// over the target, as varnel does. It runs as a child process like varnel so that both pay the same
// process start and are measured alike.
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// Returns the process exit status: 0 when the output is in place.
int io_floor(const std::string& input, const std::string& output, std::uint64_t output_size);

}  // namespace bench
