#include "tga/rle.hpp"

#include <algorithm>
#include <cstring>

namespace varnel::tga {

bool decode_rle(ForwardReader& in, const Source& source, unsigned pixel_bytes, RleState& state,
                std::uint8_t* out, std::uint64_t count) {
    seek_forward_reader(in, state.offset);
    while (count > 0) {
        if (state.remaining == 0) {
            std::uint8_t h = 0;
            if (!read_forward(in, source, &h, 1)) {
                return false;
            }
            state.remaining = static_cast<std::uint8_t>((h & 0x7Fu) + 1);
            state.repeat = (h & 0x80u) != 0;
            if (state.repeat && !read_forward(in, source, state.value, pixel_bytes)) {
                return false;
            }
        }
        const std::uint64_t take = std::min<std::uint64_t>(count, state.remaining);
        const std::size_t n = static_cast<std::size_t>(take);
        if (state.repeat) {
            for (std::size_t i = 0; i < n; ++i) {
                std::memcpy(out + i * pixel_bytes, state.value, pixel_bytes);
            }
        } else if (!read_forward(in, source, out, n * pixel_bytes)) {
            return false;
        }
        out += n * pixel_bytes;
        count -= take;
        state.remaining = static_cast<std::uint8_t>(state.remaining - take);
    }
    state.offset = forward_offset(in);
    return true;
}

}  // namespace varnel::tga
