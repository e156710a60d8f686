// The jobs of a run over folders, and of files dropped by their full names: each file converted
// in its own folder by its bare name, exactly as a run in that folder would convert it, with that
// folder's path.ini, under a line that names the folder.
#pragma once

#include <memory>
#include <set>
#include <string>

#include "driver/batch.hpp"
#include "platform/file.hpp"

namespace varnel::driver {

// Every file below `root`, at any depth, that a folder's listing takes in the direction, folder
// after folder: a folder's files, then its folders, each in the order of their names. A folder
// with such files gets a line that names it, then its files, or without a path.ini the message
// that says so once. Links to folders are not followed, and no folder is walked twice.
void add_tree(const std::string& root, Direction direction, std::set<platform::FileKey>& walked,
              Batch& batch);

// Files dropped by their full names, each converted in its own folder, back to TGA where its
// name ends in .m32 or .M32; the files of one folder that follow each other share its line.
class DroppedFiles {
public:
    void add(const std::string& name, Batch& batch);
    // A folder's line comes again after other lines.
    void interrupt();

private:
    bool begun_ = false;
    std::string folder_;
    std::shared_ptr<const Folder> settings_;  // null where its path.ini failed
};

}  // namespace varnel::driver
