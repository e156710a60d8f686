// The checks behind both fuzz targets, kept apart from libFuzzer's entry point so that a plain
// program and the test suite can replay any input through exactly the same code.
#pragma once

#include <cstddef>
#include <cstdint>

namespace varnel::fuzzing {

// Output records beyond this are not worth a fuzzer's time; images whose reading was accepted
// but that would exceed it are skipped.
inline constexpr std::uint64_t kRecordLimit = 64u << 20;

enum class ReadOutcome { Refused, Read, TooLarge };

// Reads the bytes as a TGA through the streaming reader, in blocks and orders chosen by the
// origin bytes of the header (which the reader ignores), and holds every verdict and every record
// against the reference decoder. Any disagreement aborts with a description.
ReadOutcome check_reader(const std::uint8_t* data, std::size_t size);

enum class ConversionOutcome { Converted, Refused, TooLarge };

// Converts the bytes as "in.tga" in a scratch folder with a resolution template of the header's
// size, and checks what the run printed and left on disk. Any broken promise aborts.
ConversionOutcome check_conversion(const std::uint8_t* data, std::size_t size);

}  // namespace varnel::fuzzing
