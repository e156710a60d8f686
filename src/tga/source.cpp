#include "tga/source.hpp"

#include <algorithm>
#include <cstring>
#include <ios>
#include <limits>

namespace varnel::tga {

bool measure_source(std::streambuf& bytes, Source& source) {
    const std::streamoff end = bytes.pubseekoff(0, std::ios_base::end, std::ios_base::in);
    if (end < 0) {
        return false;
    }
    source.bytes = &bytes;
    source.size = static_cast<std::uint64_t>(end);
    return true;
}

bool read_at(const Source& source, std::uint64_t offset, std::uint8_t* out, std::size_t n) {
    if (offset > source.size || n > source.size - offset) {
        return false;
    }
    if (n == 0) {
        return true;
    }
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::streamoff>::max()) ||
        source.bytes->pubseekpos(static_cast<std::streamoff>(offset), std::ios_base::in) < 0) {
        return false;
    }
    std::size_t done = 0;
    while (done < n) {
        const std::size_t chunk = std::min(
            n - done, static_cast<std::size_t>(std::numeric_limits<std::streamsize>::max()));
        const std::streamsize got = source.bytes->sgetn(reinterpret_cast<char*>(out + done),
                                                        static_cast<std::streamsize>(chunk));
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

ForwardReader make_forward_reader(std::size_t window_bytes) {
    ForwardReader reader;
    reader.window.resize(window_bytes);
    return reader;
}

void seek_forward_reader(ForwardReader& reader, std::uint64_t offset) {
    if (offset >= reader.window_offset && offset - reader.window_offset <= reader.window_length) {
        reader.position = static_cast<std::size_t>(offset - reader.window_offset);
        return;
    }
    reader.window_offset = offset;
    reader.window_length = 0;
    reader.position = 0;
}

std::uint64_t forward_offset(const ForwardReader& reader) {
    return reader.window_offset + reader.position;
}

namespace {

bool refill(ForwardReader& reader, const Source& source) {
    const std::uint64_t offset = forward_offset(reader);
    const std::uint64_t size = source.size;
    if (offset >= size) {
        return false;
    }
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(reader.window.size(), size - offset));
    if (!read_at(source, offset, reader.window.data(), n)) {
        return false;
    }
    reader.window_offset = offset;
    reader.window_length = n;
    reader.position = 0;
    return true;
}

}  // namespace

bool read_forward(ForwardReader& reader, const Source& source, std::uint8_t* out, std::size_t n) {
    while (n > 0) {
        if (reader.position == reader.window_length && !refill(reader, source)) {
            return false;
        }
        const std::size_t take = std::min(n, reader.window_length - reader.position);
        std::memcpy(out, reader.window.data() + reader.position, take);
        reader.position += take;
        out += take;
        n -= take;
    }
    return true;
}

bool skip_forward(ForwardReader& reader, const Source& source, std::uint64_t n) {
    const std::uint64_t offset = forward_offset(reader);
    if (offset > source.size || n > source.size - offset) {
        return false;
    }
    seek_forward_reader(reader, offset + n);
    return true;
}

}  // namespace varnel::tga
