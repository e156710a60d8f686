#include "driver/run.hpp"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "driver/messages.hpp"
#include "driver/path_ini.hpp"
#include "m32/m32_layout.hpp"
#include "m32/naming.hpp"
#include "m32/output_file.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::driver {

namespace fs = std::filesystem;

namespace {

#ifdef _WIN32
constexpr char kDirectorySeparator = '\\';
#else
constexpr char kDirectorySeparator = '/';
#endif

using Step = std::optional<Report>;

bool names_a_tga(const std::string& name) {
    return name.find("tga") != std::string::npos || name.find("TGA") != std::string::npos;
}

Report input_failure(const std::string& input_name, const tga::Failure& failure) {
    switch (failure.kind) {
        case tga::FailureKind::Unsupported:
            return {Message::Unsupported, input_name, failure.reason};
        case tga::FailureKind::OutOfMemory:
            return {Message::OutOfMemory, std::to_string(failure.bytes), {}};
        case tga::FailureKind::NotTga:
            return {Message::NotTga, input_name, {}};
        case tga::FailureKind::Damaged:
        case tga::FailureKind::None:
            break;
    }
    return {Message::Damaged, input_name, failure.reason};
}

// The 712-byte header block of the resolution template for this size, read whole before any
// output exists.
Step read_template(const std::string& path, m32::TemplateBlock& block) {
    std::error_code ec;
    std::filebuf file;
    if (!fs::is_regular_file(path, ec) ||
        file.open(path, std::ios_base::in | std::ios_base::binary) == nullptr) {
        return Report{Message::TemplateMissing, path, {}};
    }
    switch (m32::read_template_block(file, block)) {
        case m32::TemplateRead::Ok:
            return std::nullopt;
        case m32::TemplateRead::TooShort:
            return Report{Message::TemplateTooShort, path, {}};
        case m32::TemplateRead::Unreadable:
            break;
    }
    return Report{Message::TemplateMissing, path, {}};
}

// The current directory as 8-bit text in the same encoding as the names on the command line:
// on Windows the ANSI code page ('?' for what it cannot show), elsewhere the bytes as they are.
bool current_directory_text(std::string& text) {
    std::error_code ec;
    const fs::path directory = fs::current_path(ec);
    if (ec) {
        return false;
    }
#ifdef _WIN32
    text.clear();
    std::mbstate_t state{};
    for (const wchar_t c : directory.native()) {
        char bytes[MB_LEN_MAX];
        const std::size_t n = std::wcrtomb(bytes, c, &state);
        if (n == static_cast<std::size_t>(-1)) {
            text += '?';
            state = std::mbstate_t{};
        } else {
            text.append(bytes, n);
        }
    }
#else
    text = directory.native();
#endif
    return true;
}

Step make_header_name(const std::string& output, std::string& header) {
    std::string directory;
    if (!current_directory_text(directory)) {
        return Report{Message::NoCurrentDirectory, {}, {}};
    }
    header =
        m32::header_name(m32::last_directory_component(directory, kDirectorySeparator), output);
    if (header.size() > m32::kMaxHeaderName) {
        return Report{Message::HeaderNameTooLong, header, {}};
    }
    return std::nullopt;
}

// Streams the image in blocks of rows into the new file after its 968 header bytes; each block
// is converted straight into the output's own buffer.
Step write_m32(tga::Image& image, const std::string& input_name, const std::string& output_name,
               const m32::HeaderStart& start, const m32::TemplateBlock& block,
               m32::OutputFile& output) {
    const std::uint32_t height = image.layout.header.height;
    const std::size_t row_bytes = std::size_t{image.layout.header.width} * 4;
    const Report write_failed{Message::WriteFailed, output_name, {}};
    if (!m32::write_output(output, start.data(), start.size()) ||
        !m32::write_output(output, block.data(), block.size())) {
        return write_failed;
    }
    for (std::uint32_t row = 0; row < height; row += image.rows_per_block) {
        const std::uint32_t count = std::min(image.rows_per_block, height - row);
        if (tga::Failure f = tga::read_output_rows(image, row, count, m32::block_to_fill(output))) {
            return input_failure(input_name, f);
        }
        if (!m32::submit_block(output, count * row_bytes)) {
            return write_failed;
        }
    }
    return std::nullopt;
}

Step convert(const std::string& input_name, std::FILE* out) {
    std::string prefix;
    if (!read_template_prefix(prefix)) {
        return Report{Message::NoPathIni, {}, {}};
    }

    std::error_code ec;
    const fs::file_status input_status = fs::status(input_name, ec);
    if (!fs::exists(input_status)) {
        return Report{Message::InputMissing, input_name, {}};
    }
    std::filebuf input_file;
    if (fs::is_regular_file(input_status) &&
        input_file.open(input_name, std::ios_base::in | std::ios_base::binary) == nullptr) {
        return Report{Message::InputMissing, input_name, {}};
    }
    print(out, "Processing " + input_name + "\n");

    tga::Source source;
    tga::Header header;
    if (!input_file.is_open() || !tga::measure_source(input_file, source) ||
        tga::read_header(source, header)) {
        return Report{Message::NotTga, input_name, {}};
    }
    const std::uint64_t needs = std::uint64_t{header.width} * header.height * 3;
    print(out, "Resolution is " + std::to_string(header.width) + "x" +
                   std::to_string(header.height) + "\nNeeds " + std::to_string(needs) +
                   " bytes in memory\n");

    tga::Image image;
    if (tga::Failure f = tga::open_image(source, header, image)) {
        return input_failure(input_name, f);
    }

    const std::string template_path = m32::template_path(prefix, header.width, header.height);
    m32::TemplateBlock block{};
    if (Step s = read_template(template_path, block)) {
        return s;
    }

    const std::string output_name = m32::output_name(input_name);
    if (fs::equivalent(output_name, template_path, ec)) {
        return Report{Message::OutputIsTemplate, output_name, {}};
    }
    std::string header_name;
    if (Step s = make_header_name(output_name, header_name)) {
        return s;
    }
    m32::OutputFile output;
    const std::size_t block_bytes =
        std::max(m32::kPixelRecordsOffset, image.rows_per_block * std::size_t{header.width} * 4);
    if (!m32::open_output(output, output_name, block_bytes)) {
        return Report{Message::CannotOpenOutput, output_name, {}};
    }
    if (Step s = write_m32(image, input_name, output_name, m32::make_header_start(header_name),
                           block, output)) {
        return s;
    }
    // Closed first: an input that is its own output ('tga.m32') is replaced by the rename.
    input_file.close();
    if (!m32::commit_output(output)) {
        return Report{Message::WriteFailed, output_name, {}};
    }
    return std::nullopt;
}

}  // namespace

int run(const std::vector<std::string>& arguments, std::FILE* out) {
    if (arguments.empty()) {
        print(out, banner_text());
        return 0;
    }
    const std::string& input_name = arguments.front();
    Step failure = names_a_tga(input_name) ? convert(input_name, out)
                                           : Step{Report{Message::NoTgaName, {}, {}}};
    if (!failure) {
        return 0;
    }
    print(out, message_text(*failure));
    return exit_status(failure->message);
}

}  // namespace varnel::driver
