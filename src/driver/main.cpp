#include <cstdio>
#include <cstdlib>
#include <new>

#include "driver/messages.hpp"
#include "driver/run.hpp"
#include "platform/console.hpp"
#include "platform/file.hpp"
#include "platform/interruptions.hpp"

// Every allocation of the program comes here (the other forms of new and delete call these), so
// that running out of memory anywhere is reported with the size that could not be had.
void* operator new(std::size_t n) {
    if (void* p = std::malloc(n == 0 ? 1 : n)) {
        return p;
    }
    varnel::driver::note_failed_allocation(n);
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept {
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

int main(int argc, char** argv) {
    varnel::platform::open_missing_standard_streams();
    varnel::platform::read_file_creation_mask();
    varnel::platform::remove_unfinished_files_on_interrupt();
    int status = 0;
    try {
        status = varnel::driver::run(varnel::platform::program_arguments(argc, argv), stdout);
    } catch (const std::bad_alloc&) {
        status = varnel::driver::report_out_of_memory(stdout);
    }
    varnel::platform::wait_for_a_key_if_started_from_explorer();
    return status;
}
