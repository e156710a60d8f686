#include "driver/tree.hpp"

#include <algorithm>

#include "driver/path_ini.hpp"
#include "m32/naming.hpp"
#include "platform/folders.hpp"
#include "platform/interruptions.hpp"
#include "platform/names.hpp"

namespace varnel::driver {

namespace {

std::string without_separator(const std::string& name) {
    return name.size() > 1 && (name.back() == '/' || name.back() == platform::kDirectorySeparator)
               ? name.substr(0, name.size() - 1)
               : name;
}

}  // namespace

std::optional<std::string> directory_of(const std::string& name) {
    std::string full;
    if (!platform::full_path(name, full)) {
        return std::nullopt;
    }
    return m32::last_directory_component(full, platform::kDirectorySeparator);
}

std::vector<std::string> folders_above(const std::string& name) {
    std::string full;
    std::string current;
    std::string below;
    std::vector<std::string> folders;
    if (!platform::full_path(name, full) || !platform::current_directory(current) ||
        !platform::within(current, full, below)) {
        return folders;
    }
    for (std::string folder = below; !folder.empty();) {
        folder = platform::dirname(without_separator(folder));
        folders.push_back(folder.empty() ? "." : folder);
    }
    return folders;
}

std::shared_ptr<const platform::Folder> path_ini_above(const std::string& name) {
    const platform::Folder& here = platform::Folder::current();
    for (const std::string& folder : folders_above(name)) {
        if (platform::exists(here, platform::in_folder(folder, kPathIniName))) {
            return platform::Folder::open(here, folder, true);
        }
    }
    return nullptr;
}

bool is_template(const Settings& settings, const std::string& name) {
    const std::optional<std::pair<std::uint16_t, std::uint16_t>> size = m32::template_size(name);
    platform::FileState file;
    platform::FileState template_file;
    return size && platform::stat(settings.folder(), name, file) &&
           platform::stat(settings.templates(),
                          m32::template_path(settings.prefix(), size->first, size->second),
                          template_file) &&
           file.key == template_file.key;
}

Trees::Trees(Direction direction, Trigger trigger, Batch& batch, TreeObserver* observer)
    : direction_(direction), trigger_(trigger), batch_(batch), observer_(observer) {}

void Trees::walk(const std::string& root, const std::string& system_root) {
    const std::string& opened = system_root.empty() ? root : system_root;
    std::shared_ptr<const platform::Folder> folder =
        platform::Folder::open(platform::Folder::current(), opened, true);
    if (!folder) {
        batch_.add(Job::line({Message::FolderUnreadable, root}));
        return;
    }
    walk(std::move(folder), root, directory_of(opened), path_ini_above(opened));
}

void Trees::walk(std::shared_ptr<const platform::Folder> folder, const std::string& shown,
                 std::optional<std::string> directory,
                 std::shared_ptr<const platform::Folder> path_ini) {
    path_ini_above_ = std::move(path_ini);
    enter(std::move(folder), {}, shown, std::move(directory));
    // Depth-first without recursion, so that no tree is too deep for the walk.
    while (!levels_.empty() && !platform::stop_requested()) {
        Level& level = levels_.back();
        if (level.folders.empty()) {
            levels_.pop_back();
            continue;
        }
        const std::string name = std::move(level.folders.back());
        level.folders.pop_back();
        const std::string child_shown = platform::in_folder(level.shown, name);
        const std::shared_ptr<const platform::Folder> parent = folder_of(levels_.size() - 1);
        if (!parent) {
            // Gone, or another folder now, since it was listed.
            batch_.add(Job::line({Message::FolderUnreadable, levels_.back().shown}));
            levels_.pop_back();
            continue;
        }
        std::shared_ptr<const platform::Folder> child =
            platform::Folder::open(*parent, name, false);
        if (!child) {
            batch_.add(Job::line({Message::FolderUnreadable, child_shown}));
            continue;
        }
        enter(std::move(child), name, child_shown, name);
    }
}

std::shared_ptr<const platform::Folder> Trees::folder_of(std::size_t level) {
    std::size_t open = level;
    while (!levels_[open].folder) {
        --open;
    }
    for (std::size_t next = open + 1; next <= level; ++next) {
        std::shared_ptr<const platform::Folder> folder =
            platform::Folder::open(*levels_[next - 1].folder, levels_[next].name, false);
        if (!folder || !(folder->key() == levels_[next].key)) {
            return nullptr;
        }
        levels_[next].folder = std::move(folder);
    }
    return levels_[level].folder;
}

// A bind mount of a folder inside itself is a loop that no link shows: every folder is walked
// once.
void Trees::enter(std::shared_ptr<const platform::Folder> folder, const std::string& name,
                  const std::string& shown, std::optional<std::string> directory) {
    if (!walked_.insert(folder->key()).second) {
        return;
    }
    // Watched before it is listed, so that no file made meanwhile is missed.
    if (observer_ != nullptr) {
        observer_->entered(folder, shown);
    }
    std::vector<platform::FolderEntry> entries;
    if (!platform::list_folder(*folder, entries)) {
        batch_.add(Job::line({Message::FolderUnreadable, shown}));
        return;
    }
    // A path.ini that is no file is this folder's all the same, and fails as it would in a run
    // in the folder.
    const int above = levels_.empty() ? -1 : levels_.back().path_ini;
    const int own = static_cast<int>(levels_.size());
    Level level{folder, name, folder->key(), shown, has_path_ini(*folder) ? own : above, {}};
    std::vector<std::string> files;
    for (const platform::FolderEntry& entry : entries) {
        if (entry.kind == platform::FolderEntry::Kind::Folder) {
            level.folders.push_back(entry.name);
        } else if (is_taken_in_folder(direction_, entry.name)) {
            files.push_back(entry.name);
        }
    }
    std::reverse(level.folders.begin(), level.folders.end());
    levels_.push_back(std::move(level));
    add_files(levels_.back(), std::move(directory), std::move(files));
    // The levels between the root and the last few let their folders go.
    constexpr std::size_t kLevelsOpen = 4;
    if (levels_.size() > kLevelsOpen + 1) {
        levels_[levels_.size() - kLevelsOpen - 1].folder.reset();
    }
}

void Trees::add_files(const Level& level, std::optional<std::string> directory,
                      std::vector<std::string> files) {
    if (files.empty()) {
        return;
    }
    const std::shared_ptr<const Settings> settings = Settings::read(
        level.folder,
        level.path_ini < 0 ? path_ini_above_ : folder_of(static_cast<std::size_t>(level.path_ini)),
        std::move(directory), level.shown);
    if (observer_ != nullptr && !settings->failure()) {
        observer_->read(*settings);
    }
    if (direction_ == Direction::ToTga && !settings->failure()) {
        files.erase(
            std::remove_if(files.begin(), files.end(),
                           [&](const std::string& name) { return is_template(*settings, name); }),
            files.end());
    }
    if (files.empty()) {
        return;
    }
    if (settings->failure()) {
        batch_.add(Job::line(*settings->failure(), level.shown));
        return;
    }
    for (const std::string& name : files) {
        batch_.add(Job::convert(direction_, settings, name, trigger_));
    }
}

DroppedFiles::DroppedFiles(Direction direction, Trigger trigger, Batch& batch)
    : direction_(direction), trigger_(trigger), batch_(batch) {}

void DroppedFiles::add(const std::string& name, const std::string& system_name) {
    const std::string folder = platform::dirname(name);
    // A folder's line names it without the separator that ends it, but at a drive's root.
    const std::string shown = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
    if (folder_.empty() || folder != folder_) {
        folder_ = folder;
        opened_ = platform::Folder::open(platform::Folder::current(),
                                         platform::dirname(system_name), true);
        settings_.reset();
        if (!opened_) {
            batch_.add(Job::line({Message::FolderUnreadable, shown}));
        }
    }
    if (!opened_) {
        return;
    }
    const std::string bare = platform::last_part(name);
    const Direction direction =
        direction_ == Direction::ToM32 && is_taken_in_folder(Direction::ToTga, bare)
            ? Direction::ToTga
            : direction_;
    // Named as typed in their folder: a name that is not to be converted is answered before
    // the folder's path.ini is read.
    if (!is_input_name(direction, bare)) {
        batch_.add(Job::line(Job::convert(direction, nullptr, bare).report(), shown));
        return;
    }
    if (!settings_) {
        settings_ = Settings::read(
            opened_, opened_,
            m32::last_directory_component(without_separator(folder), platform::kDirectorySeparator),
            shown);
        if (settings_->failure()) {
            batch_.add(Job::line(*settings_->failure(), shown));
        }
    }
    if (!settings_->failure()) {
        batch_.add(Job::convert(direction, settings_, bare, trigger_));
    }
}

}  // namespace varnel::driver
