// The files of a run and what each is to become, the folders they are in, and the rules that
// say which names are taken.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "driver/messages.hpp"
#include "platform/file.hpp"

namespace varnel::driver {

// What the conversions of the files of one folder share, read once for it: the current
// directory's for the names a run is given, each folder's for the files of a folder. Held by the
// folder's jobs alone, and gone with the last of them.
class Settings {
public:
    // The current directory's: its path.ini, and the last component of its full path.
    static std::shared_ptr<const Settings> of_current_directory();
    // A folder's: `folder`, where its files are; `path_ini`, the folder of the path.ini it uses
    // (none where none was found); `directory`, its name for header names; `shown`, its name in
    // the line that comes before the lines of its files.
    static std::shared_ptr<const Settings> read(std::shared_ptr<const platform::Folder> folder,
                                                std::shared_ptr<const platform::Folder> path_ini,
                                                std::optional<std::string> directory,
                                                std::string shown);

    // The failure that concerns every file of the folder (no path.ini), if any.
    const std::optional<Report>& failure() const;
    // Where the names of the folder's files are taken.
    const platform::Folder& folder() const;
    // Where the template prefix is taken: the folder of the path.ini it comes from.
    const platform::Folder& templates() const;
    // The template prefix from path.ini.
    const std::string& prefix() const;
    // The last component of the folder's full path, for header names; none where the full path
    // could not be read.
    const std::optional<std::string>& directory() const;
    // The folder as its line names it; empty for the current directory, which has no line.
    const std::string& shown() const;
    // When the path.ini last changed.
    std::int64_t path_ini_modified() const;

private:
    Settings() = default;

    std::shared_ptr<const platform::Folder> folder_;
    std::shared_ptr<const platform::Folder> templates_;
    std::optional<Report> failure_;
    std::string prefix_;
    std::optional<std::string> directory_;
    std::string shown_;
    std::int64_t path_ini_modified_ = 0;
};

enum class Direction { ToM32, ToTga };

// Why a file is converted, which says how.
enum class Trigger {
    Asked,      // named, or met in a folder: converted, its lines shown as they come
    OutOfDate,  // the same, but only where its output is missing or older than what it is made of
    Saved,      // just saved, in a watched folder: converted, its lines held until it is done, and
                // where it reads as damaged, until its writer is surely done with it. Times cannot
                // tell whether it is up to date: an output finished just after a save may be of
                // the file before it
    Found,      // met in a watched folder, as the watch begins or where a folder has come or
                // changed, and may still be being written: converted where out of date, its lines
                // held as a save's
};

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
    static Job convert(Direction direction, std::shared_ptr<const Settings> settings,
                       const std::string& name, Trigger trigger = Trigger::Asked);
    // A line printed in place of a file, after the line of the folder `heading` names, if any.
    static Job line(Report report, std::string heading = {});

    bool converts() const;
    // With converts(): the direction, the settings of the file's folder, the name the file is
    // given by (as messages name it), and its output's, made by the naming rule.
    Direction direction() const;
    bool only_if_out_of_date() const;
    bool holds_its_lines() const;
    const Settings& settings() const;
    const std::string& input() const;
    const std::string& output() const;
    // Without: the line.
    const Report& report() const;
    // The folder whose line comes before the job's lines; empty for none.
    const std::string& heading() const;

private:
    explicit Job(Report report);

    Report report_;
    std::string heading_;
    Direction direction_ = Direction::ToM32;
    Trigger trigger_ = Trigger::Asked;
    std::shared_ptr<const Settings> settings_;
    std::string input_;
    std::string output_;
};

}  // namespace varnel::driver
