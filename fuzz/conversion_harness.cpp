#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "driver/run.hpp"
#include "harness.hpp"
#include "reference.hpp"
#include "tga/tga_reader.hpp"

namespace varnel::fuzzing {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void broken(const std::string& what) {
    std::fprintf(stderr, "varnel conversion check failed: %s\n", what.c_str());
    std::abort();
}

// One folder per process, emptied before every input, and beside it the file that takes a run's
// printed output (not std::tmpfile: on Windows that makes its files in the drive's root, where
// they may not be allowed); both are removed when the process ends.
struct Scratch {
    fs::path folder;
    fs::path printed;
    Scratch() {
        std::random_device device;
        const std::string name =
            "varnel-fuzz-" + std::to_string(device()) + "-" + std::to_string(device());
        folder = fs::temp_directory_path() / name;
        printed = fs::temp_directory_path() / (name + ".out");
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(folder, ec);
        fs::remove(printed, ec);
    }
};

const Scratch& scratch() {
    static const Scratch instance;
    return instance;
}

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_file(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) {
        broken("cannot write " + path.string());
    }
}

std::string template_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    }
    return bytes;
}

std::string run_output(std::FILE* out) {
    std::string text;
    std::rewind(out);
    for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) {
        text += static_cast<char>(c);
    }
    return text;
}

bool starts_with(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A reader that accepts an image too large for the fuzzer to write is skipped, and only then.
bool accepted_but_too_large(const std::uint8_t* data, std::size_t size, unsigned width,
                            unsigned height) {
    if (std::uint64_t{width} * height * 4 <= kRecordLimit) {
        return false;
    }
    const auto read = [](const void* context, std::uint64_t offset, std::uint8_t* out,
                         std::size_t n) {
        const auto& bytes =
            *static_cast<const std::pair<const std::uint8_t*, std::size_t>*>(context);
        const std::size_t take = offset < bytes.second
                                     ? std::min(n, bytes.second - static_cast<std::size_t>(offset))
                                     : 0;
        std::memcpy(out, bytes.first + offset, take);
        return take;
    };
    const std::pair<const std::uint8_t*, std::size_t> bytes{data, size};
    tga::Reader reader;
    return !reader.open({size, read, &bytes}) && !reader.prepare();
}

// The M32 file goes back to a TGA file, which converts to the same M32 file again.
void check_the_way_back(const fs::path& folder, const std::string& m32) {
    const auto run_in_folder = [&](const std::vector<std::string>& arguments) {
        std::FILE* out = std::fopen(scratch().printed.string().c_str(), "w+b");
        if (out == nullptr) {
            broken("cannot make " + scratch().printed.string() + " for the run's output");
        }
        const fs::path previous = fs::current_path();
        fs::current_path(folder);
        const int status = driver::run(arguments, out);
        fs::current_path(previous);
        const std::string text = run_output(out);
        std::fclose(out);
        if (status != 0) {
            broken("the way back: " + text);
        }
    };
    fs::remove(folder / "in.tga");
    run_in_folder({"--to-tga", "in.m32"});
    fs::remove(folder / "in.m32");
    run_in_folder({"in.tga"});
    if (file_bytes(folder / "in.m32") != m32) {
        broken("the TGA file taken back converts to another M32 file");
    }
}

}  // namespace

ConversionOutcome check_conversion(const std::uint8_t* data, std::size_t size) {
    const fs::path& folder = scratch().folder;
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder / "t");

    // Choices from the header's last origin byte, which the reader ignores.
    const unsigned choice = size >= 12 ? data[11] : 0;
    const bool have_header = size >= 18;
    const unsigned width = have_header ? data[12] | static_cast<unsigned>(data[13]) << 8 : 0u;
    const unsigned height = have_header ? data[14] | static_cast<unsigned>(data[15]) << 8 : 0u;
    if (have_header && accepted_but_too_large(data, size, width, height)) {
        return ConversionOutcome::TooLarge;
    }
    const std::string size_text = std::to_string(width) + "x" + std::to_string(height);
    const std::string template_name = "t/" + size_text + ".m32";
    const std::string template_contents =
        template_bytes((choice & 3) == 2 ? 967 : 968 + (choice >> 4));
    const bool template_written = have_header && (choice & 3) != 1;
    const bool template_usable = template_written && (choice & 3) != 2;
    const std::string old_output = "an earlier conversion\n";
    const bool had_output = (choice & 4) != 0;

    put_file(folder / "in.tga", std::string(reinterpret_cast<const char*>(data), size));
    put_file(folder / "path.ini", "t/");
    if (template_written) {
        put_file(folder / template_name, template_contents);
    }
    if (had_output) {
        put_file(folder / "in.m32", old_output);
    }

    std::FILE* out = std::fopen(scratch().printed.string().c_str(), "w+b");
    if (out == nullptr) {
        broken("cannot make " + scratch().printed.string() + " for the run's output");
    }
    const fs::path previous = fs::current_path();
    fs::current_path(folder);
    const int status = driver::run({"in.tga"}, out);
    fs::current_path(previous);
    const std::string text = run_output(out);
    std::fclose(out);

    const Decoded reference = decode_reference(data, size, kRecordLimit);
    const std::string progress =
        "Processing in.tga\n" +
        (have_header ? "Resolution is " + size_text + "\nNeeds " +
                           std::to_string(std::uint64_t{width} * height * 3) + " bytes in memory\n"
                     : std::string());
    if (!starts_with(text, progress)) {
        broken("progress lines: " + text);
    }
    const std::string message = text.substr(progress.size());

    std::string expected;
    bool whole_message = true;  // else `expected` starts the message, which ends in ") !\n"
    int expected_status = 1;
    switch (reference.verdict) {
        case Verdict::NotTga:
            expected = "in.tga is not a TGA file !\n";
            break;
        case Verdict::Unsupported:
            expected = "in.tga uses a TGA variant that is not supported (";
            whole_message = false;
            break;
        case Verdict::Damaged:
            expected = "in.tga is damaged (";
            whole_message = false;
            break;
        case Verdict::Readable:
            expected_status = template_usable ? 0 : -1;
            expected = !template_written
                           ? "Couldn't locate " + template_name + ". Make sure it's in this dir.\n"
                       : !template_usable
                           ? template_name + " is too short to be a resolution template !\n"
                           : std::string();
            break;
    }
    if (status != expected_status ||
        (whole_message ? message != expected
                       : !starts_with(message, expected) || !ends_with(message, ") !\n"))) {
        broken("status " + std::to_string(status) + ", expected " +
               std::to_string(expected_status) + ", message: " + message);
    }

    std::set<std::string> expected_files{"in.tga", "path.ini"};
    if (template_written) {
        expected_files.insert(template_name);
    }
    if (status == 0 || had_output) {
        expected_files.insert("in.m32");
    }
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_directory()) {
            files.insert(fs::relative(entry.path(), folder).generic_string());
        }
    }
    if (files != expected_files) {
        std::string list;
        for (const std::string& name : files) {
            list += " " + name;
        }
        broken("files left:" + list);
    }

    const std::string output = file_bytes(folder / "in.m32");
    if (status != 0) {
        if (had_output && output != old_output) {
            broken("a failed run changed the existing output");
        }
        return ConversionOutcome::Refused;
    }
    const std::string name = folder.filename().string() + "/in.m32";
    std::string start("\x04\0\0\0", 4);
    start += name;
    start.resize(256, '\0');
    const std::uint64_t records = std::uint64_t{width} * height * 4;
    if (output.size() != 968 + records || output.compare(0, 256, start) != 0 ||
        output.compare(256, 712, template_contents, 256, 712) != 0) {
        broken("the header of the output is wrong");
    }
    if (!reference.have_records ||
        output.compare(968, std::string::npos,
                       std::string(reference.records.begin(), reference.records.end())) != 0) {
        broken("the records of the output differ from the reference decoder");
    }
    if (records > 0) {
        check_the_way_back(folder, output);
    }
    return ConversionOutcome::Converted;
}

}  // namespace varnel::fuzzing
