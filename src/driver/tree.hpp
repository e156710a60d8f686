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

// The folder of the nearest path.ini above the folder `name` that lies inside the current
// directory, the current directory's included; none where it does not lie inside it.
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
    struct Level {
        std::shared_ptr<const platform::Folder> folder;
        std::string shown;
        std::shared_ptr<const platform::Folder> path_ini;  // the nearest, or none
        std::vector<std::string> folders;                  // those not yet walked, last first
    };
    void enter(std::shared_ptr<const platform::Folder> folder, const std::string& shown,
               std::optional<std::string> directory,
               std::shared_ptr<const platform::Folder> path_ini);
    // The folder's files that are taken, with their folder's settings; a folder's templates
    // never go back to TGA.
    void add_files(const Level& level, std::optional<std::string> directory,
                   std::vector<std::string> files);

    Direction direction_;
    Trigger trigger_;
    Batch& batch_;
    TreeObserver* observer_;
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
