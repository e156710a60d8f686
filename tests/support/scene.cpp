#include "scene.hpp"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace varnel::testing {

namespace fs = std::filesystem;

Scene::Scene(const std::string& dir_name, const std::optional<std::string>& path_ini)
    : dir_(root_.path / dir_name), templates_(root_.path / "tpl") {
    fs::create_directories(dir_);
    fs::create_directories(templates_);
    if (path_ini) {
        put("path.ini", *path_ini);
    }
}

Scene::Scene(TemplatesHere, const std::string& dir_name)
    : dir_(root_.path / dir_name), templates_(dir_) {
    fs::create_directories(dir_);
    put("path.ini", "");
}

Scene Scene::with_templates_here(const std::string& dir_name) {
    return Scene(TemplatesHere{}, dir_name);
}

void Scene::put(const std::string& name, const std::string& content) const {
    const fs::path file = dir_ / fs::u8path(name);
    fs::create_directories(file.parent_path());
    write_bytes(file, content);
}

std::string Scene::put_template(std::uint32_t width, std::uint32_t height, std::size_t size) const {
    const std::string content = template_bytes(size, width * 3 + height);
    write_bytes(templates_ / (std::to_string(width) + "x" + std::to_string(height) + ".m32"),
                content);
    return content;
}

std::string Scene::read(const std::string& name) const {
    return read_bytes(dir_ / fs::u8path(name));
}

ToolRun Scene::run(const std::vector<std::string>& arguments,
                   const std::vector<std::string>& before) const {
    return run_varnel(dir_, arguments, before);
}

#ifndef _WIN32
ToolRun Scene::run_as_user(const std::vector<std::string>& arguments,
                           const std::vector<std::string>& writable) const {
    if (::geteuid() != 0) {
        return run(arguments);
    }
    for (const std::string& folder : writable) {
        fs::permissions(dir_ / folder, fs::perms::all, fs::perm_options::add);
    }
    return run_varnel(dir_, arguments,
                      {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
}

StartedVarnel Scene::start(const std::vector<std::string>& arguments, const ProcessLimit* limit,
                           int closed_stream) const {
    return start_varnel(dir_, arguments, limit, closed_stream);
}
#endif

Files Scene::files() const {
    Files found;
    for (const std::string& name : list_files(root_.path)) {
        found[name] = read_bytes(root_.path / fs::u8path(name));
    }
    return found;
}

std::string progress_lines(const std::string& input, std::uint64_t width, std::uint64_t height) {
    return text_lines("Processing " + input + "\nResolution is " + std::to_string(width) + "x" +
                      std::to_string(height) + "\nNeeds " + std::to_string(width * height * 3) +
                      " bytes in memory\n");
}

std::string line(const std::string& text_with_lf) {
    return text_lines(text_with_lf);
}

std::string m32_header_start(const std::string& header_name) {
    std::string start("\x04\0\0\0", 4);
    start += header_name;
    start.resize(256, '\0');
    return start;
}

std::string tga_file(const TgaFields& fields, const std::string& id_field,
                     const std::string& colour_map, const std::string& pixel_data) {
    return tga_header(fields) + id_field + colour_map + pixel_data;
}

std::string bytes(std::initializer_list<int> values) {
    std::string out;
    for (int v : values) {
        out += static_cast<char>(static_cast<unsigned char>(v));
    }
    return out;
}

std::string le16(std::uint16_t value) {
    return bytes({value & 0xFF, value >> 8});
}

::testing::AssertionResult is_refusal(const std::string& output, const std::string& progress,
                                      const std::string& input, const std::string& kind) {
    const std::string head = progress + input + " " + kind + " (";
    const std::string tail = line(") !\n");
    if (output.compare(0, head.size(), head) != 0) {
        return ::testing::AssertionFailure() << "does not start with \"" << head << "\"";
    }
    if (output.size() < head.size() + tail.size() ||
        output.compare(output.size() - tail.size(), tail.size(), tail) != 0) {
        return ::testing::AssertionFailure() << "does not end with \") !\" and a line end";
    }
    const std::string reason =
        output.substr(head.size(), output.size() - head.size() - tail.size());
    if (reason.empty() || reason.find_first_of("\r\n") != std::string::npos) {
        return ::testing::AssertionFailure() << "reason \"" << reason << "\" is not one short text";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace varnel::testing
