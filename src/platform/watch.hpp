// Changes to the files of folders as they come: inotify on Linux, ReadDirectoryChangesW on
// Windows. Other systems have no watch here (macOS would need FSEvents or kqueue): ready() says
// so. Waiting takes no processor time.
#pragma once

#include <string>
#include <vector>

#include "platform/file.hpp"

namespace varnel::platform {

class FolderWatch {
public:
    enum class Added { Yes, Full, Failed };

    struct Change {
        enum class Kind {
            Written,     // a file was closed after writing, or moved into the folder
            Changing,    // a file was made or written to, and may still be
            FolderMade,  // a folder was made or moved into the folder
            Moved,       // the watched folder was moved, within its tree or out of it
            Gone,        // the watched folder is gone
            Lost,        // changes came faster than they could be told: any may have been missed
        };
        Kind kind;
        int id;            // the folder watched, as add() gave it
        std::string name;  // in it; on Windows, where one watch covers a tree, with the folders
                           // between
    };

    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // False where the system has no watch to give.
    bool ready() const;
    // Watches the files and folders in `folder` (with `tree` on Windows, the whole tree below it;
    // elsewhere each folder is watched by itself), found by `name` in the current directory
    // where the system cannot watch it by its handle. `id` gets its number, which is that of an
    // earlier watch where the folder is already watched. Full where the system's limit on
    // watches is reached.
    Added add(const Folder& folder, const std::string& name, bool tree, int& id);
    // Stops watching that folder.
    void remove(int id);
    // Waits for changes for at most `milliseconds` (negative: for ever). False once the program is
    // asked to stop.
    bool wait(int milliseconds, std::vector<Change>& changes);

    // True where one watch covers a whole tree.
    static bool watches_trees();
    // True where the system tells when a writer has closed a file (Written); elsewhere only
    // that it changes.
    static bool tells_closes();
    // What Full means, and what its user can do about it.
    static const char* limit();

private:
#ifdef _WIN32
    struct Watched;
    static void close(Watched& watched);
    std::vector<Watched*> watched_;  // by number; none where it was removed
#else
    int inotify_ = -1;
#endif
};

// True where another program has the file open for writing, so far as the system tells: on
// Windows, where a writer shares files for reading alone; elsewhere never.
bool is_being_written(const Folder& folder, const std::string& name);

}  // namespace varnel::platform
