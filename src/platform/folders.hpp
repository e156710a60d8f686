// What a folder holds, and names with wildcards.
#pragma once

#include <string>
#include <vector>

#include "platform/file.hpp"

namespace varnel::platform {

struct FolderEntry {
    enum class Kind { File, Folder };
    std::string name;
    Kind kind;
};

// True when the name is a folder (or a link to one), in the current directory or in `folder`.
bool is_folder(const std::string& name);
bool is_folder(const Folder& folder, const std::string& name);

// The files (links to files among them) and folders in a folder, sorted by name; links to folders
// are left out, so that no walk through folders goes round in a loop, and on Windows hidden and
// system files. False when the folder cannot be read.
bool list_folder(const Folder& folder, std::vector<FolderEntry>& entries);

// A name with * or ? in its last part stands for the files that match it (with `folders_too`,
// and the folders), sorted, on Windows, whose command shell leaves that to the program; one that
// matches nothing stands for itself. Elsewhere the shell has done it, and a name is itself.
std::vector<std::string> expand_pattern(const std::string& name, bool folders_too);

// True when `name` matches `pattern`, where * stands for any characters and ? for one, letters
// of either case alike: how Windows patterns match long names.
bool matches_pattern(const std::u16string& name, const std::u16string& pattern);

}  // namespace varnel::platform
