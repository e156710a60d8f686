#include "tga/input.hpp"

namespace varnel::tga {

bool read_exact(const Input& input, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (offset > input.size || n > input.size - offset) {
        return false;
    }
    while (n > 0) {
        const std::size_t got = input.read(input.context, offset, out, n);
        if (got == 0 || got > n) {
            return false;
        }
        offset += got;
        out += got;
        n -= got;
    }
    return true;
}

}  // namespace varnel::tga
