#include "driver/path_ini.hpp"

#include <filesystem>
#include <fstream>

namespace varnel::driver {

std::string template_prefix_from(const std::string& text) {
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\x1A') {
            break;
        }
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        line += c;
        if (c == '\n') {
            break;
        }
    }
    const std::size_t zero = line.find('\0');
    if (zero != std::string::npos) {
        line.resize(zero);
    }
    if (!line.empty() && line.back() == '\n') {
        line.pop_back();
    }
    return line;
}

bool read_template_prefix(std::string& prefix) {
    std::error_code ec;
    if (std::filesystem::is_directory(kPathIniName, ec)) {
        return false;
    }
    std::filebuf file;
    if (file.open(kPathIniName, std::ios_base::in | std::ios_base::binary) == nullptr) {
        return false;
    }
    // Only the first line matters: read until it is complete, however long the file is.
    std::string text;
    char chunk[4096];
    for (;;) {
        const std::streamsize got = file.sgetn(chunk, sizeof chunk);
        if (got <= 0) {
            break;
        }
        text.append(chunk, static_cast<std::size_t>(got));
        if (text.find_first_of(std::string("\n\x1A", 2)) != std::string::npos) {
            break;
        }
    }
    prefix = template_prefix_from(text);
    return true;
}

}  // namespace varnel::driver
