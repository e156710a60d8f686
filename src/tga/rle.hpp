// Run-length encoded pixel data (image types 9, 10, 11).
#pragma once

#include <cstdint>

#include "tga/pixel_convert.hpp"
#include "tga/source.hpp"

namespace varnel::tga {

// Packets: one header byte h, then
//   h & 0x80 set:   one pixel, repeated (h & 0x7F) + 1 times;
//   h & 0x80 clear: (h & 0x7F) + 1 literal pixels.
// The image is one stream of width x height pixels in file order: packets run on across rows.
//
// The decoder's position between two pixels, so that decoding can resume at any row.
struct RleState {
    std::uint64_t offset = 0;    // file offset of the next unread byte
    std::uint8_t remaining = 0;  // pixels of the current packet still to hand out
    bool repeat = false;         // the current packet repeats `value`
    std::uint8_t value[4] = {};  // the repeated pixel
};

// Decodes `count` pixels of `pixel_bytes` each into `out`, from and updating `state`; with `out`
// null, only finds where they end. False when the data ends before `count` pixels are complete.
bool decode_rle(ForwardReader& in, const Source& source, unsigned pixel_bytes, RleState& state,
                std::uint8_t* out, std::uint64_t count);

// How the pixels of an image become R, G, B, A records (see convert_pixels).
struct RecordFormat {
    PixelKind kind;
    const Palette* palette;
    bool keep_alpha;
};

// As decode_rle, but makes `count` records in `records` straight from the packets: a repeated
// pixel is converted once, literal pixels where they lie in the reader's window.
bool decode_rle_records(ForwardReader& in, const Source& source, const RecordFormat& format,
                        RleState& state, std::uint8_t* records, std::uint64_t count);

}  // namespace varnel::tga
