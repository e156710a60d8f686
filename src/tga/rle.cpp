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

// Where decoded pixels go. Each sink takes runs of one repeated pixel and runs of literal pixels
// lying contiguously in memory, and moves its own output on.

// Finds where the pixels end without keeping them.
struct SkipSink {
    static constexpr bool kSkips = true;
    void repeat(const std::uint8_t*, std::size_t) {}
    void literal(const std::uint8_t*, std::size_t) {}
};

// Keeps the stored pixels as they are.
struct StoredSink {
    static constexpr bool kSkips = false;
    std::uint8_t* out;
    unsigned pixel_bytes;

    void repeat(const std::uint8_t* value, std::size_t n) {
        repeat_pixel(out, value, pixel_bytes, n);
        out += n * pixel_bytes;
    }
    void literal(const std::uint8_t* pixels, std::size_t n) {
        std::memcpy(out, pixels, n * pixel_bytes);
        out += n * pixel_bytes;
    }
};

// Makes R, G, B, A records.
struct RecordSink {
    static constexpr bool kSkips = false;
    std::uint8_t* out;
    const RecordFormat& format;

    void repeat(const std::uint8_t* value, std::size_t n) {
        std::uint8_t record[4];
        convert_pixels(format.kind, *format.palette, value, 1, format.keep_alpha, record);
        fill_pixels<4>(out, record, n);
        out += n * 4;
    }
    void literal(const std::uint8_t* pixels, std::size_t n) {
        convert_pixels(format.kind, *format.palette, pixels, n, format.keep_alpha, out);
        out += n * 4;
    }
};

// Hands n literal pixels to the sink from the reader's window, a pixel that straddles two
// windows through a copy of its own.
template <typename Sink>
bool take_literals(ForwardReader& in, const Source& source, unsigned pixel_bytes, std::size_t n,
                   Sink& sink) {
    if constexpr (Sink::kSkips) {
        return skip_forward(in, source, std::uint64_t{n} * pixel_bytes);
    }
    while (n > 0) {
        const std::size_t whole = (in.window_length - in.position) / pixel_bytes;
        if (whole == 0) {
            std::uint8_t pixel[4];
            if (!read_forward(in, source, pixel, pixel_bytes)) {
                return false;
            }
            sink.literal(pixel, 1);
            --n;
            continue;
        }
        const std::size_t take = std::min(n, whole);
        sink.literal(in.window.data() + in.position, take);
        in.position += take * pixel_bytes;
        n -= take;
    }
    return true;
}

template <typename Sink>
bool decode_into(ForwardReader& in, const Source& source, unsigned pixel_bytes, RleState& state,
                 Sink& sink, std::uint64_t count) {
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
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(count, state.remaining));
        if (state.repeat) {
            sink.repeat(state.value, n);
        } else if (!take_literals(in, source, pixel_bytes, n, sink)) {
            return false;
        }
        count -= n;
        state.remaining = static_cast<std::uint8_t>(state.remaining - n);
    }
    state.offset = forward_offset(in);
    return true;
}

}  // namespace

bool decode_rle(ForwardReader& in, const Source& source, unsigned pixel_bytes, RleState& state,
                std::uint8_t* out, std::uint64_t count) {
    if (out == nullptr) {
        SkipSink sink;
        return decode_into(in, source, pixel_bytes, state, sink, count);
    }
    StoredSink sink{out, pixel_bytes};
    return decode_into(in, source, pixel_bytes, state, sink, count);
}

bool decode_rle_records(ForwardReader& in, const Source& source, const RecordFormat& format,
                        RleState& state, std::uint8_t* records, std::uint64_t count) {
    RecordSink sink{records, format};
    return decode_into(in, source, bytes_per_pixel(format.kind), state, sink, count);
}

}  // namespace varnel::tga
