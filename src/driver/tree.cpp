#include "driver/tree.hpp"

#include "platform/folders.hpp"
#include "platform/names.hpp"

namespace varnel::driver {

namespace {

// The folder's line and settings; its path.ini's failure instead of its files.
std::shared_ptr<const Folder> begin_folder(const std::string& folder, const std::string& shown,
                                           Batch& batch) {
    batch.add(Job::line({Message::InFolder, shown}));
    std::shared_ptr<const Folder> settings = Folder::read(folder);
    if (settings->failure()) {
        batch.add(Job::line(*settings->failure()));
        return nullptr;
    }
    return settings;
}

// A bind mount of a folder inside itself is a loop that no link shows: every folder is walked
// once.
void walk(const std::string& folder, const std::string& shown, Direction direction,
          std::set<platform::FileKey>& walked, Batch& batch) {
    platform::FileState state;
    std::vector<platform::FolderEntry> entries;
    if (!platform::stat(folder, state) || !walked.insert(state.key).second ||
        !platform::list_folder(folder, entries)) {
        return;
    }
    std::shared_ptr<const Folder> settings;
    bool begun = false;
    for (const platform::FolderEntry& entry : entries) {
        if (entry.kind == platform::FolderEntry::Kind::File &&
            is_taken_in_folder(direction, entry.name)) {
            if (!begun) {
                settings = begin_folder(folder, shown, batch);
                begun = true;
            }
            if (settings) {
                batch.add(Job::convert(direction, settings, entry.name));
            }
        }
    }
    settings.reset();
    for (const platform::FolderEntry& entry : entries) {
        if (entry.kind == platform::FolderEntry::Kind::Folder) {
            walk(platform::in_folder(folder, entry.name), platform::in_folder(shown, entry.name),
                 direction, walked, batch);
        }
    }
}

}  // namespace

void add_tree(const std::string& root, Direction direction, std::set<platform::FileKey>& walked,
              Batch& batch) {
    walk(root, root, direction, walked, batch);
}

void DroppedFiles::add(const std::string& name, Batch& batch) {
    const std::string folder = platform::dirname(name);
    if (!begun_ || folder != folder_) {
        // A folder's line names it without the separator that ends it, but at a drive's root.
        const std::string shown = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
        begun_ = true;
        folder_ = folder;
        settings_ = begin_folder(folder, shown, batch);
    }
    if (!settings_) {
        return;
    }
    const std::string bare = platform::last_part(name);
    const Direction direction =
        is_taken_in_folder(Direction::ToTga, bare) ? Direction::ToTga : Direction::ToM32;
    batch.add(Job::convert(direction, settings_, bare));
}

void DroppedFiles::interrupt() {
    begun_ = false;
    settings_.reset();
}

}  // namespace varnel::driver
