#include "driver/path_ini.hpp"

#include <algorithm>
#include <new>

#include "platform/platform.hpp"

namespace varnel::driver {

namespace {

constexpr std::size_t kPieceBytes = 64u << 10;

// The first byte that ends the line: a line feed, byte 26 or a zero byte.
std::size_t line_end(const std::string& text, std::size_t from) {
    return text.find_first_of(std::string("\n\x1A\0", 3), from);
}

}  // namespace

std::string template_prefix_from(const std::string& text) {
    const std::size_t end = line_end(text, 0);
    std::string line = text.substr(0, end);
    // The CR of a CR LF belongs to the line end.
    if (end != std::string::npos && text[end] == '\n' && !line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

PathIniRead read_template_prefix(std::string& prefix, std::uint64_t& bytes) {
    platform::File file;
    if (platform::open_for_reading(kPathIniName, file) != platform::OpenResult::Opened) {
        return PathIniRead::Missing;
    }
    std::string text;
    for (std::uint64_t offset = 0;;) {
        const std::size_t scanned = text.size();
        try {
            if (text.capacity() - text.size() < kPieceBytes) {
                bytes = std::max<std::uint64_t>(2 * text.capacity(), text.size() + kPieceBytes);
                text.reserve(static_cast<std::size_t>(bytes));
            }
            text.resize(scanned + kPieceBytes);
        } catch (const std::bad_alloc&) {
            return PathIniRead::OutOfMemory;
        }
        const std::size_t got = platform::read_at(
            file, offset, reinterpret_cast<std::uint8_t*>(&text[scanned]), kPieceBytes);
        text.resize(scanned + got);
        offset += got;
        if (got == 0 || line_end(text, scanned) != std::string::npos) {
            break;
        }
    }
    prefix = template_prefix_from(text);
    return PathIniRead::Ok;
}

}  // namespace varnel::driver
