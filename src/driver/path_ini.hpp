// The template prefix, read from the first line of path.ini.
#pragma once

#include <string>

namespace varnel::driver {

inline constexpr char kPathIniName[] = "path.ini";

// The first line of the text, read the same way on every platform:
//   - CR LF reads as LF; a CR not followed by LF stays a character;
//   - byte 26 (Ctrl-Z) ends the text;
//   - a zero byte ends the prefix;
//   - the line's own LF is dropped, so that a file saved with a line break works.
// Spaces stay: a prefix may begin or end with one.
std::string template_prefix_from(const std::string& text);

// Reads the path.ini at `path` up to the end of its first line, once and in time linear in the
// line's length. False when there is no regular file of that name or it cannot be read.
bool read_template_prefix(const std::string& path, std::string& prefix);

}  // namespace varnel::driver
