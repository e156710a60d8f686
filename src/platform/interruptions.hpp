// New files being written are removed should the process be interrupted: by Ctrl-C, a terminal
// that closes, a termination request, a broken pipe, or any other signal that ends a program (on
// Windows: the console's Ctrl-C, Ctrl-Break and close events). The process then ends as the
// interruption would have ended it. A file-size limit makes writes fail instead.
#pragma once

#include "platform/file.hpp"
#include "platform/names.hpp"

namespace varnel::platform {

// Call once, before any file is made.
void remove_unfinished_files_on_interrupt();

// For a program that runs until it is asked to stop: from now on the first Ctrl-C, termination
// request or hang-up (on Windows the console's Ctrl-C, Ctrl-Break or its closing) asks it to
// stop instead of ending it, so that the conversion under way ends whole; a second one ends it
// as before.
void stop_on_interrupt();
bool stop_requested();
// What a wait for other things is woken by once a stop is asked for: on POSIX systems a
// descriptor that becomes readable, on Windows an event that is set.
#ifdef _WIN32
void* stop_event();
#else
int stop_descriptor();
#endif
// The program has stopped: on Windows a console that is being closed waits for this, for a
// moment, before it ends the process.
void stopped();

// A place to track one unfinished file at a time, reserved for as long as this object lives, so
// that tracking a file needs no memory and no lock: an interruption may come while either is
// held.
class UnfinishedFile {
public:
    UnfinishedFile();
    ~UnfinishedFile();
    UnfinishedFile(const UnfinishedFile&) = delete;
    UnfinishedFile& operator=(const UnfinishedFile&) = delete;

    // Makes a file by calling make(), in a step that no interruption comes between, and tracks
    // `name` in `folder` when it is made. The name and the folder must stay as they are while it
    // is tracked. False when the file was not made: make() failed, no place could be reserved, or
    // the process is ending.
    template <typename Make>
    bool create(const Folder& folder, const SystemName& name, Make&& make) {
        const CreationStep step;
        if (!step.allowed() || !track(folder, name.c_str())) {
            return false;
        }
        if (make()) {
            return true;
        }
        forget();
        return false;
    }

    // The file is finished or removed: an interruption leaves it alone.
    void forget();

private:
    // Holds interruptions on this thread and counts the step, which an interruption on another
    // thread waits for.
    class CreationStep {
    public:
        CreationStep();
        ~CreationStep();
        CreationStep(const CreationStep&) = delete;
        CreationStep& operator=(const CreationStep&) = delete;
        bool allowed() const;

    private:
        bool allowed_;
    };

    bool track(const Folder& folder, const SystemName::value_type* name);

    int slot_;
    bool tracking_ = false;
};

}  // namespace varnel::platform
