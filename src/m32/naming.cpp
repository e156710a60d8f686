#include "m32/naming.hpp"

#include "platform/text.hpp"

namespace varnel::m32 {

std::string template_path(const std::string& prefix, std::uint16_t width, std::uint16_t height) {
    return prefix + std::to_string(width) + "x" + std::to_string(height) + ".m32";
}

std::string renamed(const std::string& name, const char* ending, bool utf8) {
    std::size_t keep = name.size();
    for (int characters = 0; characters < 3 && keep > 0; ++characters) {
        --keep;
        // The bytes that go on a UTF-8 character begin with the bits 10.
        while (utf8 && keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0u) == 0x80u) {
            --keep;
        }
    }
    return name.substr(0, keep) + ending;
}

std::string last_directory_component(const std::string& directory, char separator) {
    const std::size_t last = directory.rfind(separator);
    return last == std::string::npos ? directory : directory.substr(last + 1);
}

std::string header_name(const std::string& last_component, const std::string& output_name) {
    return last_component + "/" + output_name;
}

std::optional<std::pair<std::uint16_t, std::uint16_t>> template_size(const std::string& name) {
    using platform::ascii_lower;
    const std::size_t end = name.size() >= 4 ? name.size() - 4 : 0;
    if (name.size() < 7 || name[end] != '.' || ascii_lower(name[end + 1]) != 'm' ||
        name.compare(end + 2, 2, "32") != 0) {
        return std::nullopt;
    }
    // Up to five digits for each side, either side of the x.
    const auto number_before = [&](std::size_t at, unsigned long& value) {
        std::size_t start = at;
        while (start > 0 && at - start < 5 && name[start - 1] >= '0' && name[start - 1] <= '9') {
            --start;
        }
        value = start == at ? 65536 : std::stoul(name.substr(start, at - start));
        return start;
    };
    unsigned long width = 0;
    unsigned long height = 0;
    const std::size_t x = number_before(end, height);
    if (x == 0 || x == end || ascii_lower(name[x - 1]) != 'x' ||
        number_before(x - 1, width) == x - 1 || width > 65535 || height > 65535) {
        return std::nullopt;
    }
    return std::make_pair(static_cast<std::uint16_t>(width), static_cast<std::uint16_t>(height));
}

}  // namespace varnel::m32
