// Random access to the bytes of an input, from a file or from memory alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <streambuf>
#include <vector>

namespace varnel::tga {

struct Source {
    std::streambuf* bytes = nullptr;
    std::uint64_t size = 0;
};

// Measures the stream by seeking to its end; false when it cannot be positioned.
bool measure_source(std::streambuf& bytes, Source& source);

// Reads exactly n bytes at offset; false when the source holds fewer or the read fails.
bool read_at(const Source& source, std::uint64_t offset, std::uint8_t* out, std::size_t n);

// Sequential reading through a window of the source, for data whose length is only known once
// it has been decoded (RLE).
struct ForwardReader {
    std::vector<std::uint8_t> window;
    std::uint64_t window_offset = 0;  // file offset of window[0]
    std::size_t window_length = 0;    // bytes of the window that hold data
    std::size_t position = 0;         // next byte to hand out, within the window
};

ForwardReader make_forward_reader(std::size_t window_bytes);
void seek_forward_reader(ForwardReader& reader, std::uint64_t offset);
std::uint64_t forward_offset(const ForwardReader& reader);

// Copies the next n bytes out; false when the source ends first.
bool read_forward(ForwardReader& reader, const Source& source, std::uint8_t* out, std::size_t n);

// Passes over the next n bytes without reading them; false when the source ends first.
bool skip_forward(ForwardReader& reader, const Source& source, std::uint64_t n);

}  // namespace varnel::tga
