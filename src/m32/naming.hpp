// The names a conversion uses: where the resolution template lies, what the output is called,
// and the header name stored inside the M32 file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "platform/names.hpp"

namespace varnel::m32 {

// prefix + "<width>x<height>.m32", with nothing added between: the prefix carries its own
// separator when it names a folder.
std::string template_path(const std::string& prefix, std::uint16_t width, std::uint16_t height);

// The name with its last three characters replaced by `ending` ("m32" for an input's M32 file,
// "tga" for an M32 file's TGA file), whatever they are. A character is a byte, or with `utf8` a
// character of UTF-8 text.
std::string renamed(const std::string& name, const char* ending,
                    bool utf8 = platform::kNamesAreUtf8);

// The text after the last separator of a directory path; empty at a root ("/", "D:\").
std::string last_directory_component(const std::string& directory, char separator);

// "<last component>/<output name>".
std::string header_name(const std::string& last_component, const std::string& output_name);

// The size a name ends in where it ends in the form a template's name has,
// "<width>x<height>.m32" (x and m in either case).
std::optional<std::pair<std::uint16_t, std::uint16_t>> template_size(const std::string& name);

}  // namespace varnel::m32
