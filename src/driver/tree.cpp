#include "driver/tree.hpp"

#include <set>

#include "platform/folders.hpp"
#include "platform/names.hpp"

namespace varnel::driver {

namespace {

bool ends_with(const std::string& name, const char* ending) {
    const std::string end = ending;
    return name.size() >= end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
}

bool is_m32_name(const std::string& name) {
    return ends_with(name, ".m32") || ends_with(name, ".M32");
}

// The folder's line and settings; its path.ini's failure instead of its files.
Settings* begin_folder(const std::string& folder, const std::string& shown,
                       FolderSettings& folders, std::vector<Job>& jobs) {
    jobs.push_back(say({Message::InFolder, shown}));
    Settings& settings = folders.emplace_back();
    if (const std::optional<Report> failure = read_settings(folder, settings)) {
        jobs.push_back(say(*failure));
        return nullptr;
    }
    return &settings;
}

// A bind mount of a folder inside itself is a loop that no link shows: every folder is walked
// once.
void walk(const std::string& folder, const std::string& shown, bool to_tga,
          std::set<platform::FileKey>& walked, FolderSettings& folders, std::vector<Job>& jobs) {
    platform::FileState state;
    std::vector<platform::FolderEntry> entries;
    if (!platform::look_at(folder, state) || !walked.insert(state.key).second ||
        !platform::list_folder(folder, entries)) {
        return;
    }
    std::vector<std::string> files;
    for (const platform::FolderEntry& entry : entries) {
        const bool wanted = to_tga ? is_m32_name(entry.name)
                                   : ends_with(entry.name, ".tga") || ends_with(entry.name, ".TGA");
        if (entry.kind == platform::FolderEntry::Kind::File && wanted) {
            files.push_back(entry.name);
        }
    }
    if (!files.empty()) {
        if (const Settings* settings = begin_folder(folder, shown, folders, jobs)) {
            for (const std::string& name : files) {
                jobs.push_back(to_tga ? to_tga_job(settings, name) : to_m32_job(settings, name));
            }
        }
    }
    for (const platform::FolderEntry& entry : entries) {
        if (entry.kind == platform::FolderEntry::Kind::Folder) {
            walk(platform::in_folder(folder, entry.name), platform::in_folder(shown, entry.name),
                 to_tga, walked, folders, jobs);
        }
    }
}

}  // namespace

void add_tree(const std::string& root, bool to_tga, FolderSettings& folders,
              std::vector<Job>& jobs) {
    std::set<platform::FileKey> walked;
    walk(root, root, to_tga, walked, folders, jobs);
}

void add_dropped_file(const std::string& name, DropFolder& last, FolderSettings& folders,
                      std::vector<Job>& jobs) {
    const std::string folder = platform::beside(name, "");
    if (!last.begun || last.folder != folder) {
        // A folder's line names it without the separator that ends it, but at a drive's root.
        const std::string shown = folder.size() > 3 ? folder.substr(0, folder.size() - 1) : folder;
        last = {folder, begin_folder(folder, shown, folders, jobs), true};
    }
    if (last.settings != nullptr) {
        const std::string bare = platform::last_part(name);
        jobs.push_back(is_m32_name(bare) ? to_tga_job(last.settings, bare)
                                         : to_m32_job(last.settings, bare));
    }
}

}  // namespace varnel::driver
