// Every line the tool prints, and the exit status that goes with each failure.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace varnel::driver {

// Input problems end with status 1, template and output problems with -1 (255 where only the
// low 8 bits of a status reach the caller). A name without "tga" is not an error: batch runs
// over mixed folders pass every file and rely on status 0.
enum class Message {
    NoTgaName,
    NoPathIni,
    InputMissing,
    NotTga,
    Unsupported,
    Damaged,
    OutOfMemory,
    TemplateMissing,
    TemplateTooShort,
    OutputIsTemplate,
    NoCurrentDirectory,
    HeaderNameTooLong,
    CannotOpenOutput,
    WriteFailed,
    // Taking an M32 file back to TGA.
    NoM32Name,
    NotM32,
    NoTemplateFits,
    TemplatesDisagree,
    TgaExists,
    // Runs over folders: the folder whose files the lines after it are about, and one that
    // cannot be read.
    InFolder,
    FolderUnreadable,
    // An M32 file taken back whose header a conversion in its folder would not write again.
    HeaderNotKept,
    // Watching folders: more than the system lets one watch, and a system with no watch.
    WatchLimit,
    WatchFailed,
    NoWatch,
    Count,  // not a message: the table must have a row for each of those above
};

struct Report {
    Message message;
    std::string first = {};   // the first %s
    std::string second = {};  // the second %s, where there is one
    std::string third = {};
};

int exit_status(Message message);

// Problems of the input itself, which are reported before any problem on the output side.
bool is_about_the_input(Message message);

// The message's text with its "%s" filled in order.
std::string message_text(const Report& report);

// Writes the text and shows it at once, so that a build script's log keeps its order.
void print(std::FILE* out, const std::string& text);

// The program's allocations note the size of one that fails, on the thread that asked for it,
// so that the message can name it.
void note_failed_allocation(std::size_t bytes);

// Running out of memory, with the size of the allocation that failed last on this thread.
Report out_of_memory_report();

}  // namespace varnel::driver
