// The template prefix, read from the first line of path.ini.
#pragma once

#include <string>

#include "platform/file.hpp"

namespace varnel::driver {

inline constexpr char kPathIniName[] = "path.ini";

// Whether the folder has a path.ini, which is its own even where it is no file it can read.
bool has_path_ini(const platform::Folder& folder);

// The first line of the text, read the same way on every platform:
//   - a UTF-8 byte-order mark at the start is dropped; after a UTF-16 one (little- or big-endian)
//     the text is UTF-16; without a mark, a line that is not UTF-8 is in the ANSI code page on
//     Windows. The rules below apply to the characters so decoded;
//   - CR LF reads as LF; a CR not followed by LF stays a character;
//   - character 26 (Ctrl-Z) ends the text;
//   - a zero character ends the prefix;
//   - the line's own LF is dropped, so that a file saved with a line break works.
// Spaces stay: a prefix may begin or end with one.
std::string template_prefix_from(const std::string& text);

// Reads the folder's path.ini up to the end of its first line, once and in time linear in the
// line's length, and notes when it last changed. False when there is no regular file of that
// name or it cannot be read.
bool read_template_prefix(const platform::Folder& folder, std::string& prefix,
                          std::int64_t& modified);

}  // namespace varnel::driver
