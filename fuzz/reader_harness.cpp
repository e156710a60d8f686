#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "harness.hpp"
#include "reference.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::fuzzing {

namespace {

[[noreturn]] void broken(const char* what) {
    std::fprintf(stderr, "varnel reader check failed: %s\n", what);
    std::abort();
}

// File bytes in memory, handed out the way a real file may hand them out: in short pieces, or
// failing from some offset on as a device error would.
struct MemoryFile {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t piece;
    std::size_t fail_from;
};

std::size_t read_memory(const void* context, std::uint64_t offset, std::uint8_t* out,
                        std::size_t n) {
    const auto& file = *static_cast<const MemoryFile*>(context);
    const std::size_t end = std::min(file.size, file.fail_from);
    if (offset >= end) {
        return 0;
    }
    const std::size_t take = std::min({n, file.piece, end - static_cast<std::size_t>(offset)});
    std::memcpy(out, file.data + offset, take);
    return take;
}

// Choices taken from the header's origin bytes (offsets 8 to 10), which the reader ignores.
struct Options {
    std::size_t piece = std::numeric_limits<std::size_t>::max();
    std::size_t fail_from = std::numeric_limits<std::size_t>::max();
    unsigned rows_choice = 0;
};

Options options_from(const std::uint8_t* data, std::size_t size) {
    Options o;
    if (size < 12) {
        return o;
    }
    switch (data[8] & 3) {
        case 2:
            o.piece = 1 + (data[8] >> 2);
            break;
        case 3:
            o.fail_from = size - std::min<std::size_t>(size, 1 + (data[8] >> 2) * 97u);
            break;
        default:
            break;
    }
    o.rows_choice = data[9] | static_cast<unsigned>(data[10]) << 8;
    return o;
}

bool matches(tga::FailureKind kind, Verdict verdict) {
    switch (verdict) {
        case Verdict::NotTga:
            return kind == tga::FailureKind::NotTga;
        case Verdict::Unsupported:
            return kind == tga::FailureKind::Unsupported;
        case Verdict::Damaged:
            return kind == tga::FailureKind::Damaged;
        case Verdict::Readable:
            return kind == tga::FailureKind::None;
    }
    return false;
}

// Reads every row, `rows_per_call` at a time, in the reader's row order; null `reference` when
// the input may fail, so that no exact result is due. False when damage stopped the reading.
bool read_all_rows(tga::Reader& reader, const Decoded* reference, std::uint32_t rows_per_call) {
    const std::size_t row = std::size_t{reader.width()} * m32::kRecordBytes;
    const std::uint32_t height = row == 0 ? 0 : reader.height();
    std::vector<std::uint8_t> records(row * height, 0xEE);
    const bool bottom_first = reader.row_order() == m32::RowOrder::BottomFirst;
    for (std::uint32_t done = 0; done < height;) {
        const std::uint32_t count = std::min(rows_per_call, height - done);
        const std::uint32_t first = bottom_first ? height - done - count : done;
        // Rows past the image's end must be refused, never served.
        if (reader.read_rows(first, height - first + 1, records.data()).kind !=
            tga::FailureKind::Unsupported) {
            broken("rows outside the image were not refused");
        }
        if (tga::Failure f = reader.read_rows(first, count, records.data() + first * row)) {
            if (reference != nullptr && reference->verdict == Verdict::Readable) {
                std::fprintf(stderr, "reader: %s\n", f.reason.c_str());
                broken("rows of a sound image could not be read");
            }
            if (f.kind != tga::FailureKind::Damaged || f.reason.empty()) {
                broken("rows failed for a reason other than damage");
            }
            if (reference != nullptr && reference->verdict != Verdict::Damaged) {
                broken("damage found in rows the reference decoder reads");
            }
            return false;
        }
        done += count;
    }
    if (reference == nullptr) {
        return true;
    }
    if (reference->verdict != Verdict::Readable) {
        std::fprintf(stderr, "reference: %s\n", verdict_name(reference->verdict));
        broken("the reader read every row of what the reference decoder refuses");
    }
    if (!records.empty() &&
        std::memcmp(records.data(), reference->records.data(), records.size()) != 0) {
        broken("records differ from the reference decoder");
    }
    return true;
}

}  // namespace

ReadOutcome check_reader(const std::uint8_t* data, std::size_t size) {
    const Options o = options_from(data, size);
    const MemoryFile file{data, size, o.piece, o.fail_from};
    const tga::Input input{size, read_memory, &file};
    const bool exact = o.fail_from >= size;
    const Decoded reference = exact ? decode_reference(data, size, kRecordLimit) : Decoded{};

    tga::Reader reader;
    if (tga::Failure f = reader.open(input)) {
        if (f.kind != tga::FailureKind::NotTga || (exact && reference.verdict != Verdict::NotTga)) {
            broken("a whole header was refused");
        }
        return ReadOutcome::Refused;
    }
    if (exact && reference.verdict == Verdict::NotTga) {
        broken("a file shorter than a header was read");
    }

    if (tga::Failure f = reader.prepare()) {
        if (f.kind == tga::FailureKind::None) {
            broken("a refusal of the wrong kind");
        }
        if ((f.kind == tga::FailureKind::Unsupported || f.kind == tga::FailureKind::Damaged) &&
            f.reason.empty()) {
            broken("a refusal without a reason");
        }
        if (exact && !matches(f.kind, reference.verdict)) {
            std::fprintf(stderr, "reader: %s, reference: %s\n", f.reason.c_str(),
                         verdict_name(reference.verdict));
            broken("the reader's refusal disagrees with the reference decoder");
        }
        return ReadOutcome::Refused;
    }
    if (exact && reference.verdict == Verdict::Unsupported) {
        broken("the reader prepared what the reference decoder does not read");
    }
    if (std::uint64_t{reader.width()} * reader.height() * 4 > kRecordLimit) {
        return ReadOutcome::TooLarge;
    }
    // Damage found only while rows are read is the same damage: a second look must find it too.
    const std::uint32_t rows = 1 + o.rows_choice % std::max<std::uint32_t>(1, reader.height());
    const bool read = read_all_rows(reader, exact ? &reference : nullptr, rows);
    tga::Reader again;
    if (exact && reference.verdict == Verdict::Damaged && !again.open(input) && !again.prepare() &&
        !again.find_damage()) {
        broken("a second look did not find the damage the reference decoder finds");
    }
    return read ? ReadOutcome::Read : ReadOutcome::Refused;
}

}  // namespace varnel::fuzzing
