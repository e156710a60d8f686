#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <streambuf>
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

// File bytes in memory, handed out the way a real stream may hand them out: in short pieces,
// or failing from some offset on as a device error would.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(const std::uint8_t* data, std::size_t size, std::size_t piece,
                 std::size_t fail_from)
        : data_(data), size_(size), piece_(piece), fail_from_(fail_from) {}

protected:
    pos_type seekoff(off_type offset, std::ios_base::seekdir dir,
                     std::ios_base::openmode) override {
        const off_type base = dir == std::ios_base::beg   ? 0
                              : dir == std::ios_base::cur ? static_cast<off_type>(position_)
                                                          : static_cast<off_type>(size_);
        if ((offset < 0 && -offset > base) ||
            (offset > 0 && offset > std::numeric_limits<off_type>::max() - base)) {
            return pos_type(off_type(-1));
        }
        position_ = static_cast<std::size_t>(base + offset);
        return pos_type(static_cast<off_type>(position_));
    }

    pos_type seekpos(pos_type position, std::ios_base::openmode which) override {
        return seekoff(off_type(position), std::ios_base::beg, which);
    }

    std::streamsize xsgetn(char* out, std::streamsize n) override {
        const std::size_t end = std::min(size_, fail_from_);
        if (n <= 0 || position_ >= end) {
            return 0;
        }
        const std::size_t take = std::min({static_cast<std::size_t>(n), piece_, end - position_});
        std::memcpy(out, data_ + position_, take);
        position_ += take;
        return static_cast<std::streamsize>(take);
    }

    int_type underflow() override {
        if (position_ >= std::min(size_, fail_from_)) {
            return traits_type::eof();
        }
        return traits_type::to_int_type(static_cast<char>(data_[position_]));
    }

    int_type uflow() override {
        const int_type c = underflow();
        if (c != traits_type::eof()) {
            ++position_;
        }
        return c;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t piece_;
    std::size_t fail_from_;
    std::size_t position_ = 0;
};

// Choices taken from the header's origin bytes (offsets 8 to 11), which the reader ignores.
struct Options {
    std::size_t piece = std::numeric_limits<std::size_t>::max();
    std::size_t fail_from = std::numeric_limits<std::size_t>::max();
    unsigned block_choice = 0;
    unsigned order = 0;
    unsigned seed = 0;
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
    o.block_choice = data[9];
    o.order = data[10] & 3;
    o.seed = data[11];
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

struct Checker {
    tga::Image& image;
    const Decoded* reference;  // null when the stream may fail, so that no exact result is due
    std::vector<std::uint8_t> block;

    void read(std::uint32_t first, std::uint32_t count) {
        const std::size_t row = std::size_t{image.layout.header.width} * 4;
        if (tga::Failure f = tga::read_output_rows(image, first, count, block.data())) {
            if (reference != nullptr) {
                broken("rows of an accepted image could not be read");
            }
            return;
        }
        const std::uint8_t* got = block.data();
        const std::size_t n = count * row;
        if (reference != nullptr) {
            if (n > 0 && std::memcmp(got, reference->records.data() + first * row, n) != 0) {
                broken("records differ from the reference decoder");
            }
            return;
        }
        for (std::size_t i = 3; !image.keep_alpha && i < n; i += 4) {
            if (got[i] != 255) {
                broken("alpha other than 255 in an image without alpha");
            }
        }
    }
};

void read_all_rows(tga::Image& image, const Decoded* reference, const Options& o) {
    const std::uint32_t height = image.layout.header.height;
    const std::uint32_t per_block = image.rows_per_block;
    if (height > 0 && (per_block == 0 || per_block > height)) {
        broken("rows per block outside 1 to the height");
    }
    Checker check{
        image, reference,
        std::vector<std::uint8_t>(std::size_t{per_block} * image.layout.header.width * 4)};

    // Requests outside what was promised must be refused, never served.
    if (height > 0) {
        if (!tga::read_output_rows(image, height, 1, check.block.data()) ||
            !tga::read_output_rows(image, 0, per_block + 1, check.block.data()) ||
            !tga::read_output_rows(image, height - 1, 2, check.block.data())) {
            broken("a request for rows outside the image or block was served");
        }
    }

    for (std::uint32_t first = 0; first < height; first += per_block) {
        check.read(first, std::min(per_block, height - first));
    }
    if (height == 0) {
        return;
    }

    const std::uint32_t rows = 1 + o.block_choice % per_block;
    std::vector<std::uint32_t> starts;
    for (std::uint32_t first = 0; first < height; first += rows) {
        starts.push_back(first);
    }
    if (o.order == 1) {
        std::reverse(starts.begin(), starts.end());
    } else if (o.order == 3) {
        unsigned state = o.seed * 2654435761u + 1;
        for (std::size_t i = starts.size(); i > 1; --i) {
            state = state * 1103515245u + 12345u;
            std::swap(starts[i - 1], starts[(state >> 8) % i]);
        }
    }
    for (std::uint32_t first : starts) {
        const std::uint32_t count = std::min(rows, height - first);
        check.read(first, count);
        if (o.order == 2) {
            check.read(first, count);
        }
    }
}

}  // namespace

ReadOutcome check_reader(const std::uint8_t* data, std::size_t size) {
    const Options o = options_from(data, size);
    MemoryBuffer bytes(data, size, o.piece, o.fail_from);
    tga::Source source;
    if (!tga::measure_source(bytes, source) || source.size != size) {
        broken("a memory stream was measured wrongly");
    }
    const bool exact = o.fail_from >= size;
    const Decoded reference = exact ? decode_reference(data, size, kRecordLimit) : Decoded{};

    tga::Header header;
    if (tga::Failure f = tga::read_header(source, header)) {
        if (f.kind != tga::FailureKind::NotTga || (exact && reference.verdict != Verdict::NotTga)) {
            broken("a whole header was refused");
        }
        return ReadOutcome::Refused;
    }
    if (exact && reference.verdict == Verdict::NotTga) {
        broken("a file shorter than a header was read");
    }

    tga::Image image;
    if (tga::Failure f = tga::open_image(source, header, image)) {
        if (f.kind == tga::FailureKind::None) {
            broken("a failure without a kind");
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
    if (exact && reference.verdict != Verdict::Readable) {
        std::fprintf(stderr, "reference: %s\n", verdict_name(reference.verdict));
        broken("the reader accepted what the reference decoder refuses");
    }
    if (std::uint64_t{header.width} * header.height * 4 > kRecordLimit) {
        return ReadOutcome::TooLarge;
    }
    read_all_rows(image, exact ? &reference : nullptr, o);
    return ReadOutcome::Read;
}

}  // namespace varnel::fuzzing
