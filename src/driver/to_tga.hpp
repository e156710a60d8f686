// Taking an M32 file back to a TGA file beside it, for editing.
#pragma once

#include <optional>

#include "driver/job.hpp"
#include "driver/messages.hpp"

namespace varnel::driver {

// Converts the job's M32 file, printing its progress lines as they come. An existing file of the
// TGA file's name is never replaced. Returns the failure that ended it, if any; its message is
// left to the caller to print.
std::optional<Report> convert_to_tga(Conversion& conversion);

}  // namespace varnel::driver
