// Run-length encoded pixel data (image types 9, 10, 11).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "tga/input.hpp"
#include "tga/pixel_convert.hpp"

namespace varnel::tga {

// How the pixels of an image become R, G, B, A records; with check_indices, every index is first
// checked against the colour map's defined entries.
struct RecordFormat {
    PixelKind kind;
    bool keep_alpha;
    Converter convert;  // converter_for(kind, keep_alpha)
    const ColourMap* map;
    bool check_indices;
};

enum class Decoded { Complete, EndsEarly, IndexOutsideMap };

// Packets: one header byte h, then
//   h & 0x80 set:   one pixel, repeated (h & 0x7F) + 1 times;
//   h & 0x80 clear: (h & 0x7F) + 1 literal pixels.
// The image is one stream of width x height pixels in file order: packets run on across rows, and
// a packet that runs past the last pixel completes the image.
//
// The stream is read forwards through a window of the input; each call takes up where the last
// one ended.
class RleStream {
public:
    // False when the window's memory cannot be had.
    bool reserve(std::size_t window_bytes);
    // Back to the first pixel of pixel data that starts at `offset` of the input.
    void start(const Input& input, std::uint64_t offset, unsigned pixel_bytes);
    // Another input comes: nothing the window holds is of it.
    void forget();

    // Passes over `count` pixels without keeping them.
    Decoded skip(std::uint64_t count);
    // Copies `count` stored pixels to `out`.
    Decoded stored(std::uint8_t* out, std::uint64_t count);
    // Makes `count` records in `out` straight from the packets: a repeated pixel is converted
    // once, literal pixels where they lie in the window.
    Decoded records(const RecordFormat& format, std::uint8_t* out, std::uint64_t count);

    // The pixels asked for since the start: where in the image the stream stands.
    std::uint64_t pixels_taken() const;

private:
    template <typename Sink>
    Decoded decode(Sink& sink, std::uint64_t count);
    template <typename Sink>
    Decoded decode_in_window(Sink& sink, std::uint64_t& count);
    template <typename Sink>
    Decoded take_literals(Sink& sink, std::size_t n);
    bool refill();
    bool next_byte(std::uint8_t& byte);
    bool read_bytes(std::uint8_t* out, std::size_t n);
    bool skip_bytes(std::uint64_t n);

    Input input_;
    unsigned pixel_bytes_ = 1;
    std::uint64_t taken_ = 0;
    std::unique_ptr<std::uint8_t[]> window_;
    std::size_t window_bytes_ = 0;
    std::uint64_t window_offset_ = 0;  // input offset of window_[0]
    std::size_t window_length_ = 0;    // bytes of the window that hold data
    std::size_t position_ = 0;         // next byte to take, within the window
    // The packet being handed out.
    std::uint8_t remaining_ = 0;  // its pixels still to come
    bool repeat_ = false;         // it repeats value_
    std::uint8_t value_[4] = {};
};

}  // namespace varnel::tga
