// The world of one end-to-end run: a fresh folder holding the run's current directory (named like
// a texture set, since its name goes into the header name) and, beside it, a folder of resolution
// templates that the default path.ini points at.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tga_builder.hpp"
#include "tool_runner.hpp"

namespace varnel::testing {

// Every regular file below a folder, by its name relative to that folder, with its bytes.
using Files = std::map<std::string, std::string>;

class Scene {
public:
    // `path_ini` becomes the current directory's path.ini; with std::nullopt there is none.
    explicit Scene(const std::string& dir_name = "stone",
                   const std::optional<std::string>& path_ini = std::string("../tpl/"));

    const std::filesystem::path& root() const {
        return root_.path;
    }
    const std::filesystem::path& dir() const {
        return dir_;
    }

    // Writes a file below the current directory, creating its folders.
    void put(const std::string& name, const std::string& content) const;
    // Writes tpl/WxH.m32 beside the current directory and returns its bytes.
    std::string put_template(std::uint32_t width, std::uint32_t height,
                             std::size_t size = 968 + 64) const;
    std::string read(const std::string& name) const;

    ToolRun run(const std::vector<std::string>& arguments) const;

    // Every file below the root folder: the current directory's files as "stone/...", the
    // templates as "tpl/...".
    Files files() const;

private:
    TempFolder root_;
    std::filesystem::path dir_;
};

// The three progress lines, with the platform's line ends.
std::string progress_lines(const std::string& input, std::uint64_t width, std::uint64_t height);

// Platform line ends for a single line of text given with "\n".
std::string line(const std::string& text_with_lf);

// The first 256 bytes of an M32 file: the leading word 4, the header name and its zero fill.
std::string m32_header_start(const std::string& header_name);

// A TGA file made of the header for `fields`, the ID field, the colour map and the pixel data.
std::string tga_file(const TgaFields& fields, const std::string& id_field,
                     const std::string& colour_map, const std::string& pixel_data);

// Bytes given as numbers, for pixel data and records written out in tests.
std::string bytes(std::initializer_list<int> values);

// A 16-bit value as two little-endian bytes.
std::string le16(std::uint16_t value);

// True when a failed run has left the message `kind` ("is damaged" or "uses a TGA variant that is
// not supported") for `input` as the last line of `output`, after the progress lines, with a
// non-empty reason in parentheses.
::testing::AssertionResult is_refusal(const std::string& output, const std::string& progress,
                                      const std::string& input, const std::string& kind);

// Names parameterised cases after their `name` field.
template <class Case>
std::string case_name(const ::testing::TestParamInfo<Case>& param) {
    return param.param.name;
}

}  // namespace varnel::testing
