// A second, deliberately plain TGA decoder that the fuzz harnesses hold the streaming reader
// against: it reads the whole file at once, pixel by pixel, with none of the reader's blocks,
// windows or resumable RLE state, so that a fault in those shows as a difference.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace varnel::fuzzing {

enum class Verdict { NotTga, Unsupported, Damaged, Readable };

struct Decoded {
    Verdict verdict = Verdict::NotTga;
    std::uint16_t width = 0;
    std::uint16_t height = 0;
    // Filled only for a readable image whose records fit `record_limit` bytes: R, G, B, A, top
    // row first, left to right.
    bool have_records = false;
    std::vector<std::uint8_t> records;
};

// Decides what the bytes are and, within the limit, what they convert to.
Decoded decode_reference(const std::uint8_t* data, std::size_t size, std::uint64_t record_limit);

const char* verdict_name(Verdict verdict);

}  // namespace varnel::fuzzing
