// The jobs of a run over folders, and of files dropped by their full names: each file converted
// in its own folder by its bare name, exactly as a run in that folder would convert it, with that
// folder's path.ini, under a line that names the folder.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "driver/job.hpp"

namespace varnel::driver {

// The settings of the run's folders, which jobs point to, for as long as the run lasts.
using FolderSettings = std::deque<Settings>;

// Every file below `root`, at any depth, whose name ends in .tga or .TGA (with `to_tga`, .m32 or
// .M32), folder after folder: a folder's files, then its folders, each in the order of their names.
// A folder with such files gets a line that names it, then its files, or without a path.ini the
// message that says so once. Links to folders are not followed.
void add_tree(const std::string& root, bool to_tga, FolderSettings& folders,
              std::vector<Job>& jobs);

// The folder of the file dropped last, whose line the next file of that folder shares.
struct DropFolder {
    std::string folder;
    const Settings* settings = nullptr;  // null: its path.ini failed
    bool begun = false;
};

// A file dropped by its full name: converted in its own folder, back to TGA where its name ends in
// .m32 or .M32.
void add_dropped_file(const std::string& name, DropFolder& last, FolderSettings& folders,
                      std::vector<Job>& jobs);

}  // namespace varnel::driver
