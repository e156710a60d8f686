#include "tga/rle.hpp"

#include <algorithm>
#include <cstring>

namespace varnel::tga {

namespace {

bool next_byte(ForwardReader& in, const Source& source, std::uint8_t& byte) {
    if (in.position < in.window_length) {
        byte = in.window[in.position++];
        return true;
    }
    return read_forward(in, source, &byte, 1);
}

// A copy of constant size compiles to plain moves; runs of repeated pixels are the common case.
template <unsigned N>
void fill_pixels(std::uint8_t* out, const std::uint8_t* value, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        std::memcpy(out + i * N, value, N);
    }
}

void repeat_pixel(std::uint8_t* out, const std::uint8_t* value, unsigned pixel_bytes,
                  std::size_t n) {
    switch (pixel_bytes) {
        case 1:
            std::memset(out, value[0], n);
            return;
        case 2:
            fill_pixels<2>(out, value, n);
            return;
        case 3:
            fill_pixels<3>(out, value, n);
            return;
        default:
            fill_pixels<4>(out, value, n);
            return;
    }
}

}  // namespace

bool decode_rle(ForwardReader& in, const Source& source, unsigned pixel_bytes, RleState& state,
                std::uint8_t* out, std::uint64_t count) {
    seek_forward_reader(in, state.offset);
    while (count > 0) {
        if (state.remaining == 0) {
            std::uint8_t h = 0;
            if (!next_byte(in, source, h)) {
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
        if (out == nullptr) {
            if (!state.repeat && !skip_forward(in, source, take * pixel_bytes)) {
                return false;
            }
        } else {
            if (state.repeat) {
                repeat_pixel(out, state.value, pixel_bytes, n);
            } else if (!read_forward(in, source, out, n * pixel_bytes)) {
                return false;
            }
            out += n * pixel_bytes;
        }
        count -= take;
        state.remaining = static_cast<std::uint8_t>(state.remaining - take);
    }
    state.offset = forward_offset(in);
    return true;
}

}  // namespace varnel::tga
