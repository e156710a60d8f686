// The files of a run and what each is to become, the folders they are in, and the rules that
// say which names are taken.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "driver/messages.hpp"

namespace varnel::driver {

// What the conversions of the files of one folder share, read once for it: the current
// directory's for the names a run is given, each folder's own for the files of a folder.
class Folder {
public:
    // The folder's path.ini and the last component of its full path; an empty path is the
    // current directory.
    static std::shared_ptr<const Folder> read(const std::string& path);

    // The failure that concerns every file of the folder (no path.ini), if any.
    const std::optional<Report>& failure() const;
    // A name in the folder as the system is to take it.
    std::string path(const std::string& name) const;
    // The template prefix from path.ini.
    const std::string& prefix() const;
    // The last component of the folder's full path, for header names; none where the full path
    // could not be read.
    const std::optional<std::string>& directory() const;

private:
    Folder() = default;

    std::string path_;
    std::optional<Report> failure_;
    std::string prefix_;
    std::optional<std::string> directory_;
};

enum class Direction { ToM32, ToTga };

// Whether a name given to a run is one to convert: one that holds "tga" or "TGA" anywhere (with
// ToTga "m32" or "M32"), case-sensitive, the directory part included.
bool is_input_name(Direction direction, const std::string& name);

// Whether a file met in a folder is taken: its name ends in ".tga" or ".TGA" (with ToTga ".m32"
// or ".M32").
bool is_taken_in_folder(Direction direction, const std::string& name);

// A file of the run and what it becomes, or a line printed in its place.
class Job {
public:
    // The conversion of a name in a folder; a name that is not an input name of the direction
    // gets the line that says so instead.
    static Job convert(Direction direction, std::shared_ptr<const Folder> folder,
                       const std::string& name);
    static Job line(Report report);

    bool converts() const;
    // With converts(): the direction, the folder the names are taken in, the name the file is
    // given by (as messages name it), and its output's, made by the naming rule.
    Direction direction() const;
    const Folder& folder() const;
    const std::string& input() const;
    const std::string& output() const;
    // Without: the line.
    const Report& report() const;

private:
    explicit Job(Report report);

    Report report_;
    Direction direction_ = Direction::ToM32;
    std::shared_ptr<const Folder> folder_;
    std::string input_;
    std::string output_;
};

}  // namespace varnel::driver
