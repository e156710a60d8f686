// Watching the heap: the test program's global operator new notes the largest single request
// made while a watch is on, so that a test can show a refusal came before any large allocation.
#pragma once

#include <cstddef>

namespace varnel::unit {

void start_allocation_watch();
// The largest single request since the watch started; ends the watch.
std::size_t stop_allocation_watch();

}  // namespace varnel::unit
