#include "driver/watch.hpp"

#include <algorithm>
#include <map>
#include <set>

#include "driver/batch.hpp"
#include "driver/path_ini.hpp"
#include "driver/tree.hpp"
#include "driver/waits.hpp"
#include "m32/naming.hpp"
#include "platform/folders.hpp"
#include "platform/interruptions.hpp"
#include "platform/names.hpp"
#include "platform/watch.hpp"

namespace varnel::driver {

namespace {

using platform::FolderWatch;

bool ends_in_separator(const std::string& name) {
    return !name.empty() && (name.back() == '/' || name.back() == platform::kDirectorySeparator);
}

// A path below a root and a path below that.
std::string joined(const std::string& below, const std::string& name) {
    return name.empty() ? below : platform::in_folder(below, name);
}

// The folder part of a name below a watched folder, without the separator that ends it.
std::string folder_part(const std::string& name) {
    const std::string folder = platform::dirname(name);
    return folder.empty() ? folder : folder.substr(0, folder.size() - 1);
}

class Watcher : public TreeObserver {
public:
    Watcher(const Options& options, unsigned workers, std::FILE* out)
        : direction_(options.to_tga ? Direction::ToTga : Direction::ToM32),
          batch_(workers, out, Choices{options.keep_header}),
          out_(out) {}

    int run(const std::vector<std::string>& names);

    void entered(const std::shared_ptr<const platform::Folder>& folder,
                 const std::string& shown) override;
    void read(const Settings& settings) override;

private:
    struct Root {
        std::string shown;
        std::shared_ptr<const platform::Folder> folder;
        std::optional<std::string> directory;
        std::shared_ptr<const platform::Folder> path_ini;  // the nearest above it
    };
    // A folder watched: where it lies in its tree, that it holds templates, that it lies above
    // roots whose nearest path.ini it may hold, or all of these.
    struct Watched {
        platform::FileKey key;
        std::size_t root = 0;
        std::string below;  // its path below the root; empty for the root
        bool in_tree = false;
        bool templates = false;
        std::vector<std::size_t> above;  // the roots it lies above
    };
    // A folder below a root, open, with the folder of the nearest path.ini above it and its own.
    struct Place {
        std::shared_ptr<const platform::Folder> folder;
        std::shared_ptr<const platform::Folder> path_ini_above;
        std::shared_ptr<const platform::Folder> path_ini;
    };

    std::string shown(std::size_t root, const std::string& below) const {
        return below.empty() ? roots_[root].shown : platform::in_folder(roots_[root].shown, below);
    }
    std::optional<Place> open(std::size_t root, const std::string& below) const;
    // Adds a watch; false, the failure noted, where it cannot be had.
    bool watch(const platform::Folder& folder, const std::string& shown, bool tree, int& id);
    // Stops watching a folder of a tree, and the folders below it.
    void forget(int id);
    // Forgets the folders moved that are no longer where they were.
    void check_moved();
    // How a file in a folder below a root is now; none where it is not there.
    static std::optional<platform::FileState> state_of(const std::optional<Place>& place,
                                                       const std::string& name);
    void walk_all();
    void walk(std::size_t root, const std::string& below);
    void saved(const Watched& watched, const std::string& name);
    void change(const FolderWatch::Change& change);
    void due();
    void drain();

    Direction direction_;
    Batch batch_;
    std::FILE* out_;
    FolderWatch watch_;
    std::vector<Root> roots_;
    std::size_t walking_ = 0;  // the root a walk is in
    std::map<int, Watched> watched_;
    std::map<platform::FileKey, int> trees_;  // the folders of trees watched, by their keys
    std::set<platform::FileKey> template_folders_;
    std::vector<int> moved_;
    std::optional<Report> unwatched_;  // why a folder could not be watched
    Waits waits_;
};

bool Watcher::watch(const platform::Folder& folder, const std::string& shown_as, bool tree,
                    int& id) {
    switch (watch_.add(folder, shown_as, tree, id)) {
        case FolderWatch::Added::Yes:
            return true;
        case FolderWatch::Added::Full:
            unwatched_ = unwatched_ ? unwatched_
                                    : Report{Message::WatchLimit, shown_as, FolderWatch::limit()};
            return false;
        case FolderWatch::Added::Failed:
            break;
    }
    unwatched_ = unwatched_ ? unwatched_ : Report{Message::WatchFailed, shown_as};
    return false;
}

void Watcher::entered(const std::shared_ptr<const platform::Folder>& folder,
                      const std::string& shown_as) {
    const std::string& root = roots_[walking_].shown;
    const std::string below =
        shown_as.size() <= root.size()
            ? std::string()
            : shown_as.substr(root.size() + (ends_in_separator(root) ? 0 : 1));
    // Where one watch covers a tree, the root's is all there is.
    if (FolderWatch::watches_trees() && !below.empty()) {
        return;
    }
    // A folder watched already is where the walk met it: moved there, or walked again.
    const auto known = trees_.find(folder->key());
    if (known != trees_.end()) {
        watched_[known->second].root = walking_;
        watched_[known->second].below = below;
        return;
    }
    int id = -1;
    if (watch(*folder, shown_as, true, id)) {
        trees_[folder->key()] = id;
        Watched& watched = watched_[id];
        watched.key = folder->key();
        watched.root = walking_;
        watched.below = below;
        watched.in_tree = true;
    }
}

// The folder of a tree's templates is watched too: a template changed may leave any output of
// its size out of date.
void Watcher::read(const Settings& settings) {
    const std::string folder = platform::dirname(settings.prefix());
    const std::shared_ptr<const platform::Folder> templates =
        platform::Folder::open(settings.templates(), folder.empty() ? "." : folder, true);
    int id = -1;
    if (templates && template_folders_.insert(templates->key()).second &&
        watch(*templates, folder, false, id)) {
        watched_[id].key = templates->key();
        watched_[id].templates = true;
    }
}

void Watcher::forget(int id) {
    const auto gone = watched_.find(id);
    if (gone == watched_.end()) {
        return;
    }
    const Watched folder = gone->second;
    for (auto it = watched_.begin(); it != watched_.end();) {
        const Watched& w = it->second;
        const bool below =
            it == gone || (w.in_tree && folder.in_tree && w.root == folder.root &&
                           (folder.below.empty() ||
                            w.below.rfind(folder.below + platform::kDirectorySeparator, 0) == 0));
        if (!below) {
            ++it;
            continue;
        }
        trees_.erase(w.key);
        template_folders_.erase(w.key);
        watch_.remove(it->first);
        it = watched_.erase(it);
    }
}

void Watcher::check_moved() {
    for (const int id : moved_) {
        const auto found = watched_.find(id);
        if (found == watched_.end() || !found->second.in_tree) {
            continue;
        }
        const std::optional<Place> place = open(found->second.root, found->second.below);
        if (!place || !(place->folder->key() == found->second.key)) {
            forget(id);
        }
    }
    moved_.clear();
}

std::optional<Watcher::Place> Watcher::open(std::size_t root, const std::string& below) const {
    Place place{roots_[root].folder, roots_[root].path_ini, roots_[root].path_ini};
    if (has_path_ini(*place.folder)) {
        place.path_ini = place.folder;
    }
    for (std::size_t start = 0; start < below.size();) {
        const std::size_t end =
            std::min(below.find_first_of(platform::kSeparators, start), below.size());
        std::shared_ptr<const platform::Folder> child =
            platform::Folder::open(*place.folder, below.substr(start, end - start), false);
        if (!child) {
            return std::nullopt;
        }
        place.path_ini_above = place.path_ini;
        place.folder = std::move(child);
        if (has_path_ini(*place.folder)) {
            place.path_ini = place.folder;
        }
        start = end + 1;
    }
    return place;
}

std::optional<platform::FileState> Watcher::state_of(const std::optional<Place>& place,
                                                     const std::string& name) {
    platform::FileState state;
    if (!place || !platform::stat(*place->folder, name, state)) {
        return std::nullopt;
    }
    return state;
}

void Watcher::walk_all() {
    // The folders are watched as they are walked: a file met may be being saved meanwhile.
    Trees trees(direction_, Trigger::Found, batch_, this);
    for (walking_ = 0; walking_ < roots_.size(); ++walking_) {
        const Root& root = roots_[walking_];
        trees.walk(root.folder, root.shown, root.directory, root.path_ini);
    }
}

void Watcher::walk(std::size_t root, const std::string& below) {
    if (const std::optional<Place> place = open(root, below)) {
        walking_ = root;
        Trees(direction_, Trigger::Found, batch_, this)
            .walk(place->folder, shown(root, below),
                  below.empty() ? roots_[root].directory : platform::last_part(below),
                  place->path_ini_above);
    }
}

// A file written in a watched folder; on Windows its name may hold the folders below the root.
// A changed path.ini or template, and a folder that has come, are walked as with --update: what
// is out of date converts.
void Watcher::saved(const Watched& watched, const std::string& name) {
    const std::string bare = platform::last_part(name);
    const std::string below = joined(watched.below, folder_part(name));
    if (watched.templates && m32::template_size(bare)) {
        walk_all();
        return;
    }
    if (bare == kPathIniName) {
        for (const std::size_t root : watched.above) {
            roots_[root].path_ini = path_ini_above(roots_[root].shown);
            walk(root, {});
        }
    }
    if (!watched.in_tree) {
        return;
    }
    const std::optional<Place> place = open(watched.root, below);
    if (!place || bare == kPathIniName) {
        walk(watched.root, below);
        return;
    }
    if (platform::is_folder(*place->folder, bare)) {
        walk(watched.root, joined(below, bare));
        return;
    }
    // Its own outputs and their new files, and whatever else a folder holds, are no such files.
    if (!is_taken_in_folder(direction_, bare)) {
        return;
    }
    const std::shared_ptr<const Settings> settings =
        Settings::read(place->folder, place->path_ini,
                       below.empty() ? roots_[watched.root].directory : platform::last_part(below),
                       shown(watched.root, below));
    // Whatever an earlier save of it read as, this one is its last word.
    waits_.drop_held(settings->shown(), bare);
    if (settings->failure()) {
        batch_.add(Job::line(*settings->failure(), settings->shown()));
    } else if (direction_ == Direction::ToM32 || !is_template(*settings, bare)) {
        batch_.add(Job::convert(direction_, settings, bare, Trigger::Saved));
    }
}

void Watcher::change(const FolderWatch::Change& change) {
    if (change.kind == FolderWatch::Change::Kind::Lost) {
        walk_all();
        return;
    }
    const auto found = watched_.find(change.id);
    if (found == watched_.end()) {
        return;
    }
    const Watched watched = found->second;
    switch (change.kind) {
        case FolderWatch::Change::Kind::Gone:
            forget(change.id);
            return;
        case FolderWatch::Change::Kind::Moved:
            moved_.push_back(change.id);
            return;
        case FolderWatch::Change::Kind::FolderMade:
            if (watched.in_tree) {
                walk(watched.root, joined(watched.below, change.name));
            }
            return;
        case FolderWatch::Change::Kind::Written:
            saved(watched, change.name);
            return;
        case FolderWatch::Change::Kind::Changing:
            // Its writer is at it again: whatever it read as before is not yet its last word.
            waits_.drop_held(shown(watched.root, joined(watched.below, folder_part(change.name))),
                             platform::last_part(change.name));
            if (!FolderWatch::tells_closes() && waits_.written({change.id, change.name})) {
                waits_.looked({change.id, change.name},
                              state_of(open(watched.root, watched.below), change.name));
            }
            return;
        case FolderWatch::Change::Kind::Lost:
            return;
    }
}

void Watcher::due() {
    for (const Batch::Aside& held : waits_.held_due()) {
        batch_.show_aside(held);
    }
    for (const auto& [file, last] : waits_.quiet_ended()) {
        const auto watched = watched_.find(file.first);
        if (watched == watched_.end()) {
            continue;
        }
        // A writer that holds the file, or one that wrote more since the last look without a
        // notice having come (Windows tells of sizes late), is not done with it.
        const std::optional<Place> place = open(watched->second.root, watched->second.below);
        const std::optional<platform::FileState> state = state_of(place, file.second);
        const bool grown = state && !(last && *state == *last);
        if (grown || (place && platform::is_being_written(*place->folder, file.second))) {
            waits_.wait_again(file, state);
        } else {
            saved(watched->second, file.second);
        }
    }
}

void Watcher::drain() {
    batch_.drain();
    for (Batch::Aside& held : batch_.take_aside()) {
        waits_.hold(std::move(held));
    }
}

int Watcher::run(const std::vector<std::string>& names) {
    std::shared_ptr<const Settings> current;
    for (const std::string& name : names) {
        std::shared_ptr<const platform::Folder> folder =
            platform::Folder::open(platform::Folder::current(), name, true);
        platform::FileState state;
        if (folder && !watch_.ready()) {
            batch_.add(Job::line({Message::NoWatch, name}));
        } else if (folder) {
            roots_.push_back({name, std::move(folder), directory_of(name), path_ini_above(name)});
        } else if (platform::is_folder(name)) {
            batch_.add(Job::line({Message::FolderUnreadable, name}));
        } else if (!platform::stat(platform::Folder::current(), name, state)) {
            batch_.add(Job::line({Message::InputMissing, name}));
        } else {
            // A file named converts as in a run over folders, and is not watched.
            current = current ? current : Settings::of_current_directory();
            batch_.add(current->failure()
                           ? Job::line(*current->failure())
                           : Job::convert(direction_, current, name, Trigger::OutOfDate));
        }
    }
    // The folders above a root may gain or change the path.ini it uses.
    for (std::size_t root = 0; root < roots_.size(); ++root) {
        for (const std::string& name : folders_above(roots_[root].shown)) {
            const std::shared_ptr<const platform::Folder> above =
                platform::Folder::open(platform::Folder::current(), name, true);
            int id = -1;
            if (above && watch(*above, name, false, id)) {
                watched_[id].key = above->key();
                watched_[id].above.push_back(root);
            }
        }
    }
    walk_all();
    drain();
    std::vector<FolderWatch::Change> changes;
    while (!roots_.empty() && !unwatched_ && watch_.wait(waits_.timeout(), changes)) {
        for (const FolderWatch::Change& c : changes) {
            change(c);
        }
        check_moved();
        due();
        drain();
    }
    if (unwatched_) {
        print(out_, message_text(*unwatched_));
        return exit_status(unwatched_->message);
    }
    return roots_.empty() ? batch_.status() : 0;
}

}  // namespace

int watch_folders(const Options& options, unsigned workers, std::FILE* out) {
    platform::stop_on_interrupt();
    const int status = Watcher(options, workers, out).run(options.names);
    platform::stopped();
    return status;
}

}  // namespace varnel::driver
