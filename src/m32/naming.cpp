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

bool has_template_form(const std::string& name) {
    using platform::ascii_lower;
    const std::size_t size = name.size();
    if (size < 7 || name[size - 4] != '.' || ascii_lower(name[size - 3]) != 'm' ||
        name.compare(size - 2, 2, "32") != 0) {
        return false;
    }
    const std::size_t x = name.find_last_not_of("0123456789", size - 5);
    return x != std::string::npos && x > 0 && x + 1 < size - 4 && ascii_lower(name[x]) == 'x' &&
           name[x - 1] >= '0' && name[x - 1] <= '9';
}

}  // namespace varnel::m32
