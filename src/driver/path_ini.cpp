#include "driver/path_ini.hpp"

#include "platform/file.hpp"

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

bool read_template_prefix(const std::string& path, std::string& prefix) {
    platform::File file;
    if (file.open_for_reading(path) != platform::File::Opened::Yes) {
        return false;
    }
    std::string text;
    for (std::uint64_t offset = 0;;) {
        const std::size_t scanned = text.size();
        text.resize(scanned + kPieceBytes);
        const std::size_t got =
            file.read_at(offset, reinterpret_cast<std::uint8_t*>(&text[scanned]), kPieceBytes);
        text.resize(scanned + got);
        offset += got;
        if (got < kPieceBytes || line_end(text, scanned) != std::string::npos) {
            break;
        }
    }
    prefix = template_prefix_from(text);
    return true;
}

}  // namespace varnel::driver
