// The jobs of a run over folders, and of files dropped by their full names: each file converted
// in its own folder by its bare name, exactly as a run in that folder would convert it, under a
// line that names the folder.
#pragma once

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "driver/batch.hpp"
#include "platform/file.hpp"

namespace varnel::driver {

// Told of every folder a walk enters, and of the settings read for the files of one.
class TreeObserver {
public:
    virtual ~TreeObserver() = default;
    virtual void entered(const std::shared_ptr<const platform::Folder>& folder,
                         const std::string& shown) = 0;
    virtual void read(const Settings& settings) = 0;
};

// The folders above the folder `name` up to the current directory, where `name` lies inside it,
// nearest first, named from the current directory ("." for itself); none where it does not.
std::vector<std::string> folders_above(const std::string& name);

// The folder of the nearest path.ini among those.
std::shared_ptr<const platform::Folder> path_ini_above(const std::string& name);

// The last component of a folder's full path, as header names take it.
std::optional<std::string> directory_of(const std::string& name);

// A file that its folder's template prefix names as a template: "<prefix><width>x<height>.m32".
bool is_template(const Settings& settings, const std::string& name);

// The trees of a run's folders, each folder walked once however the folders named overlap.
class Trees {
public:
    Trees(Direction direction, Trigger trigger, Batch& batch, TreeObserver* observer = nullptr);

    // Every file below the folder `root`, at any depth, that a folder's listing takes in the
    // direction, folder after folder: a folder's files, then its folders, each in the order of
    // their names. A folder with such files gets a line that names it as reached from `shown`,
    // then its files, or the message that it has no path.ini: a folder without one of its own
    // uses the nearest one above it, up to the root and, where the root lies inside the current
    // directory, up to the current directory. A folder that cannot be read is reported, and the
    // rest of the tree walked. Links to folders below the root are not followed. With
    // `system_root`, the root is opened by that name and shown by `root`.
    void walk(const std::string& root, const std::string& system_root = {});
    // The same from a folder already open, whose nearest path.ini above is `path_ini`.
    void walk(std::shared_ptr<const platform::Folder> folder, const std::string& shown,
              std::optional<std::string> directory,
              std::shared_ptr<const platform::Folder> path_ini);

private:
    // A folder on the way from the root to the one being walked. Only the root's handle and
    // those of the last few levels are kept open, so that a deep tree takes no more open files
    // than a shallow one; a level's folder is opened again by name when the walk comes back to
    // it, and must still be the folder it was.
    struct Level {
        std::shared_ptr<const platform::Folder> folder;  // none while it is let go
        std::string name;                                // in the folder above
        platform::FileKey key;
        std::string shown;
        int path_ini;  // the level whose folder holds the nearest path.ini; -1: above the root
        std::vector<std::string> folders;  // those not yet walked, last first
    };
    void enter(std::shared_ptr<const platform::Folder> folder, const std::string& name,
               const std::string& shown, std::optional<std::string> directory);
    // The handle of a level's folder, opened again where it was let go; none where it has gone.
    std::shared_ptr<const platform::Folder> folder_of(std::size_t level);
    // The folder's files that are taken, with their folder's settings; a folder's templates
    // never go back to TGA.
    void add_files(const Level& level, std::optional<std::string> directory,
                   std::vector<std::string> files);

    Direction direction_;
    Trigger trigger_;
    Batch& batch_;
    TreeObserver* observer_;
    std::shared_ptr<const platform::Folder> path_ini_above_;  // the root's
    std::set<platform::FileKey> walked_;
    std::vector<Level> levels_;  // from the root to the folder being walked
};

// Files dropped by their full names, each converted in its own folder: with ToTga only M32
// files, otherwise an M32 file back to TGA and any other file to M32; the files of one folder
// that follow each other share its line.
class DroppedFiles {
public:
    DroppedFiles(Direction direction, Trigger trigger, Batch& batch);
    // `name` as shown, `system_name` as opened.
    void add(const std::string& name, const std::string& system_name);

private:
    Direction direction_;
    Trigger trigger_;
    Batch& batch_;
    std::string folder_;  // of the last file; empty before the first
    std::shared_ptr<const platform::Folder> opened_;
    std::shared_ptr<const Settings> settings_;  // read once a file needs them
};

}  // namespace varnel::driver
