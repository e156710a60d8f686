#include "m32/naming.hpp"

namespace varnel::m32 {

std::string template_path(const std::string& prefix, std::uint16_t width, std::uint16_t height) {
    return prefix + std::to_string(width) + "x" + std::to_string(height) + ".m32";
}

std::string output_name(const std::string& input_name) {
    const std::size_t keep = input_name.size() < 3 ? 0 : input_name.size() - 3;
    return input_name.substr(0, keep) + "m32";
}

std::string last_directory_component(const std::string& directory, char separator) {
    const std::size_t last = directory.rfind(separator);
    return last == std::string::npos ? directory : directory.substr(last + 1);
}

std::string header_name(const std::string& last_component, const std::string& output_name) {
    return last_component + "/" + output_name;
}

}  // namespace varnel::m32
