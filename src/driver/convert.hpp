// The conversion of one TGA file into the M32 file beside it.
#pragma once

#include <optional>

#include "driver/job.hpp"
#include "driver/messages.hpp"

namespace varnel::driver {

// Converts the job's file, printing its progress lines as they come. Returns the failure that
// ended it, if any; its message is left to the caller to print.
std::optional<Report> convert_to_m32(Conversion& conversion);

}  // namespace varnel::driver
