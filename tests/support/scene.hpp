// The world of one run of the built varnel: a fresh folder holding the run's current directory
// (named like a texture set, since its name goes into the header name) and, beside it, a folder of
// resolution templates that the default path.ini points at; and what such a run is expected to
// print and leave. Every end-to-end and fault test makes its folders and runs varnel through it.
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

    // A scene whose current directory holds its own templates, named by an empty path.ini, so
    // that messages name them bare; nothing lies beside it.
    static Scene with_templates_here(const std::string& dir_name = "stone");

    const std::filesystem::path& root() const {
        return root_.path;
    }
    const std::filesystem::path& dir() const {
        return dir_;
    }

    // Writes a file named relative to the current directory ("../" reaches beside it), creating
    // its folders.
    void put(const std::string& name, const std::string& content) const;
    // Writes the template WxH.m32 (in tpl beside the current directory, or in the current
    // directory itself) and returns its bytes.
    std::string put_template(std::uint32_t width, std::uint32_t height,
                             std::size_t size = 968 + 64) const;
    std::string read(const std::string& name) const;

    // Runs varnel in the current directory; through the program and arguments `before`, where
    // there are any.
    ToolRun run(const std::vector<std::string>& arguments,
                const std::vector<std::string>& before = {}) const;
#ifndef _WIN32
    // The same as a user without the administrator's rights, for whom permissions bind: as the
    // user nobody where the tests run as root, who may then read the scene but write only the
    // folders `writable` names.
    ToolRun run_as_user(const std::vector<std::string>& arguments,
                        const std::vector<std::string>& writable) const;
#endif
#ifndef _WIN32
    // varnel started in the current directory and left running, for runs that are interrupted,
    // watched or limited while they convert.
    StartedVarnel start(const std::vector<std::string>& arguments,
                        const ProcessLimit* limit = nullptr, int closed_stream = -1) const;
#endif

    // Every file below the root folder: the current directory's files as "stone/...", the
    // templates beside it as "tpl/...".
    Files files() const;

private:
    struct TemplatesHere {};
    Scene(TemplatesHere, const std::string& dir_name);

    TempFolder root_;
    std::filesystem::path dir_;
    std::filesystem::path templates_;
};

// The separator varnel joins the names of folders with in the lines it prints.
#ifdef _WIN32
inline const std::string kSep = "\\";
#else
inline const std::string kSep = "/";
#endif

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
