// Random access to the bytes of an input, whatever holds them: a file, or memory in tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel::tga {

struct Input {
    std::uint64_t size = 0;
    // Reads up to n bytes at the offset into `out` and returns how many it read: fewer only where
    // the input ends or fails.
    std::size_t (*read)(const void* context, std::uint64_t offset, std::uint8_t* out,
                        std::size_t n) = nullptr;
    const void* context = nullptr;
};

// Reads exactly n bytes at the offset; false when the input holds fewer or the read fails.
bool read_exact(const Input& input, std::uint64_t offset, std::uint8_t* out, std::size_t n);

}  // namespace varnel::tga
