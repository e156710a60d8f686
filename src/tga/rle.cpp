#include "tga/rle.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

#include "m32/record.hpp"
#include "tga/pixel_vectors.hpp"

namespace varnel::tga {

namespace {

using m32::kRecordBytes;

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
// lying contiguously in memory, moves its own output on, and answers false for an index outside
// the colour map.

struct SkipSink {
    static constexpr bool kSkips = true;
    bool repeat(const std::uint8_t*, std::size_t) {
        return true;
    }
    bool literal(const std::uint8_t*, std::size_t) {
        return true;
    }
};

struct StoredSink {
    static constexpr bool kSkips = false;
    std::uint8_t* out;
    unsigned pixel_bytes;

    bool repeat(const std::uint8_t* value, std::size_t n) {
        repeat_pixel(out, value, pixel_bytes, n);
        out += n * pixel_bytes;
        return true;
    }
    bool literal(const std::uint8_t* pixels, std::size_t n) {
        std::memcpy(out, pixels, n * pixel_bytes);
        out += n * pixel_bytes;
        return true;
    }
};

struct RecordSink {
    static constexpr bool kSkips = false;
    std::uint8_t* out;
    const RecordFormat& format;

    bool repeat(const std::uint8_t* value, std::size_t n) {
        if (format.check_indices && !format.map->holds(format.kind, value, 1)) {
            return false;
        }
        std::uint8_t record[kRecordBytes];
        format.convert(*format.map, value, 1, record);
        fill_pixels<kRecordBytes>(out, record, n);
        out += n * kRecordBytes;
        return true;
    }
    bool literal(const std::uint8_t* pixels, std::size_t n) {
        if (format.check_indices && !format.map->holds(format.kind, pixels, n)) {
            return false;
        }
        format.convert(*format.map, pixels, n, out);
        out += n * kRecordBytes;
        return true;
    }
};

}  // namespace

bool RleStream::reserve(std::size_t window_bytes) {
    if (window_ && window_bytes_ == window_bytes) {
        return true;
    }
    window_.reset(new (std::nothrow) std::uint8_t[window_bytes]);
    window_bytes_ = window_ ? window_bytes : 0;
    return window_ != nullptr;
}

void RleStream::start(const Input& input, std::uint64_t offset, unsigned pixel_bytes) {
    // Where the window still holds the start of the same input, a second pass reads it again.
    const bool held = input_.context == input.context && offset >= window_offset_ &&
                      offset - window_offset_ < window_length_;
    input_ = input;
    taken_ = 0;
    pixel_bytes_ = pixel_bytes;
    position_ = held ? static_cast<std::size_t>(offset - window_offset_) : 0;
    if (!held) {
        window_offset_ = offset;
        window_length_ = 0;
    }
    remaining_ = 0;
    repeat_ = false;
}

void RleStream::forget() {
    input_ = {};
    window_length_ = 0;
}

bool RleStream::refill() {
    window_offset_ += position_;
    position_ = 0;
    window_length_ = 0;
    if (window_offset_ >= input_.size) {
        return false;
    }
    const std::size_t want = static_cast<std::size_t>(
        std::min<std::uint64_t>(window_bytes_, input_.size - window_offset_));
    window_length_ = input_.read(input_.context, window_offset_, window_.get(), want);
    return window_length_ > 0 && window_length_ <= want;
}

bool RleStream::next_byte(std::uint8_t& byte) {
    if (position_ == window_length_ && !refill()) {
        return false;
    }
    byte = window_[position_++];
    return true;
}

bool RleStream::read_bytes(std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        if (position_ == window_length_ && !refill()) {
            return false;
        }
        const std::size_t take = std::min(n, window_length_ - position_);
        std::memcpy(out, window_.get() + position_, take);
        position_ += take;
        out += take;
        n -= take;
    }
    return true;
}

bool RleStream::skip_bytes(std::uint64_t n) {
    const std::uint64_t at = window_offset_ + position_;
    if (at > input_.size || n > input_.size - at) {
        return false;
    }
    if (n <= window_length_ - position_) {
        position_ += static_cast<std::size_t>(n);
    } else {
        window_offset_ = at + n;
        window_length_ = 0;
        position_ = 0;
    }
    return true;
}

// Hands n literal pixels to the sink from the window, a pixel that straddles two windows through
// a copy of its own.
template <typename Sink>
Decoded RleStream::take_literals(Sink& sink, std::size_t n) {
    if constexpr (Sink::kSkips) {
        return skip_bytes(std::uint64_t{n} * pixel_bytes_) ? Decoded::Complete : Decoded::EndsEarly;
    }
    while (n > 0) {
        const std::size_t whole = (window_length_ - position_) / pixel_bytes_;
        if (whole == 0) {
            std::uint8_t pixel[4];
            if (!read_bytes(pixel, pixel_bytes_)) {
                return Decoded::EndsEarly;
            }
            if (!sink.literal(pixel, 1)) {
                return Decoded::IndexOutsideMap;
            }
            --n;
            continue;
        }
        const std::size_t take = std::min(n, whole);
        if (!sink.literal(window_.get() + position_, take)) {
            return Decoded::IndexOutsideMap;
        }
        position_ += take * pixel_bytes_;
        n -= take;
    }
    return Decoded::Complete;
}

// Whole packets straight from the window while it surely holds the next one, which is most of
// the time: no packet then needs a look at where the window ends.
template <typename Sink>
Decoded RleStream::decode_in_window(Sink& sink, std::uint64_t& count) {
#ifdef VARNEL_X86_PATHS
    if constexpr (std::is_same_v<Sink, RecordSink>) {
        const PixelKind kind = sink.format.kind;
        if ((kind == PixelKind::Bgr24 || kind == PixelKind::Bgra32) && byte_shuffle_in_use()) {
            const std::uint8_t alpha_or =
                kind == PixelKind::Bgra32 && sink.format.keep_alpha ? 0 : 255;
            position_ = vectors::packets_to_records(window_.get(), window_length_, position_,
                                                    pixel_bytes_, alpha_or, sink.out, count);
        }
    }
#endif
    const std::size_t largest_packet = 1 + kMostPixelsPerPacket * std::size_t{pixel_bytes_};
    if (window_length_ < largest_packet) {
        return Decoded::Complete;
    }
    const std::uint8_t* window = window_.get();
    const std::size_t last_start = window_length_ - largest_packet;
    std::size_t at = position_;
    while (count > 0 && at <= last_start) {
        const std::uint8_t h = window[at];
        const std::size_t n = (h & 0x7Fu) + 1u;
        if (n > count) {
            break;
        }
        if ((h & 0x80u) != 0) {
            if (!sink.repeat(window + at + 1, n)) {
                position_ = at;
                return Decoded::IndexOutsideMap;
            }
            at += 1 + pixel_bytes_;
        } else {
            if (!sink.literal(window + at + 1, n)) {
                position_ = at;
                return Decoded::IndexOutsideMap;
            }
            at += 1 + n * pixel_bytes_;
        }
        count -= n;
    }
    position_ = at;
    return Decoded::Complete;
}

template <typename Sink>
Decoded RleStream::decode(Sink& sink, std::uint64_t count) {
    taken_ += count;
    while (count > 0) {
        if (remaining_ == 0 && !Sink::kSkips) {
            if (const Decoded d = decode_in_window(sink, count); d != Decoded::Complete) {
                return d;
            }
            if (count == 0) {
                break;
            }
        }
        if (remaining_ == 0) {
            std::uint8_t h = 0;
            if (!next_byte(h)) {
                return Decoded::EndsEarly;
            }
            remaining_ = static_cast<std::uint8_t>((h & 0x7Fu) + 1);
            repeat_ = (h & 0x80u) != 0;
            if (repeat_ && !read_bytes(value_, pixel_bytes_)) {
                return Decoded::EndsEarly;
            }
        }
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(count, remaining_));
        if (repeat_) {
            if (!sink.repeat(value_, n)) {
                return Decoded::IndexOutsideMap;
            }
        } else if (const Decoded d = take_literals(sink, n); d != Decoded::Complete) {
            return d;
        }
        count -= n;
        remaining_ = static_cast<std::uint8_t>(remaining_ - n);
    }
    return Decoded::Complete;
}

Decoded RleStream::skip(std::uint64_t count) {
    SkipSink sink;
    return decode(sink, count);
}

Decoded RleStream::stored(std::uint8_t* out, std::uint64_t count) {
    StoredSink sink{out, pixel_bytes_};
    return decode(sink, count);
}

Decoded RleStream::records(const RecordFormat& format, std::uint8_t* out, std::uint64_t count) {
    RecordSink sink{out, format};
    return decode(sink, count);
}

std::uint64_t RleStream::pixels_taken() const {
    return taken_;
}

}  // namespace varnel::tga
