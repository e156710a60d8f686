#include "driver/messages.hpp"

#include <iterator>

#include "platform/console.hpp"

namespace varnel::driver {

namespace {

struct Row {
    Message message;
    const char* pattern;
    int status;
};

constexpr Row kRows[] = {
    {Message::NoTgaName, "Error - No TGA-File !\n", 0},
    {Message::NoPathIni, "Couldn't find path.ini !\n", -1},
    {Message::InputMissing, "%s does not exist !\n", 1},
    {Message::NotTga, "%s is not a TGA file !\n", 1},
    {Message::Unsupported, "%s uses a TGA variant that is not supported (%s) !\n", 1},
    {Message::Damaged, "%s is damaged (%s) !\n", 1},
    {Message::OutOfMemory, "\nOut of memory allocating %s bytes\n", 1},
    {Message::TemplateMissing, "Couldn't locate %s. Make sure it's in this dir.\n", -1},
    {Message::TemplateTooShort, "%s is too short to be a resolution template !\n", -1},
    {Message::OutputIsTemplate, "Won't overwrite the resolution template %s !\n", -1},
    {Message::NoCurrentDirectory, "Couldn't read the current directory !\n", -1},
    {Message::HeaderNameTooLong, "Header name %s is longer than %s characters !\n", -1},
    {Message::CannotOpenOutput, "Error opening %s for writing.\n", -1},
    {Message::WriteFailed, "Error writing %s.\n", -1},
    {Message::NoM32Name, "Error - No M32-File !\n", 0},
    {Message::NotM32, "%s is not an M32 file !\n", 1},
    {Message::NoTemplateFits,
     "Couldn't locate a resolution template of %s records for %s. Make sure it's in this dir.\n",
     -1},
    {Message::TemplatesDisagree, "%s has %s records, and resolution templates of %s fit it !\n",
     -1},
    {Message::TgaExists, "Won't overwrite the TGA file %s !\n", -1},
    {Message::InFolder, "In %s:\n", 0},
    {Message::FolderUnreadable, "Couldn't read the folder %s !\n", 1},
    {Message::HeaderNotKept,
     "%s has a header of its own: convert %s with --keep-header to put it back as it was.\n", 0},
    {Message::WatchLimit, "Couldn't watch %s: %s !\n", -1},
    {Message::WatchFailed, "Couldn't watch %s !\n", -1},
    {Message::NoWatch, "Couldn't watch %s: this system tells varnel of no changes to folders !\n",
     -1},
};

// Each message has its row, at the place of its number.
constexpr bool rows_in_order() {
    for (std::size_t i = 0; i < std::size(kRows); ++i) {
        if (kRows[i].message != static_cast<Message>(i)) {
            return false;
        }
    }
    return std::size(kRows) == static_cast<std::size_t>(Message::Count);
}
static_assert(rows_in_order(), "every message needs its row, in the order of the messages");

const Row& row(Message message) {
    return kRows[static_cast<std::size_t>(message)];
}

thread_local std::size_t t_failed_allocation = 0;

}  // namespace

int exit_status(Message message) {
    return row(message).status;
}

bool is_about_the_input(Message message) {
    return message == Message::Damaged || message == Message::Unsupported ||
           message == Message::NotTga || message == Message::NotM32;
}

std::string message_text(const Report& report) {
    const std::string pattern = row(report.message).pattern;
    const std::string* args[] = {&report.first, &report.second, &report.third};
    std::string text;
    std::size_t next_arg = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern.compare(i, 2, "%s") == 0 && next_arg < std::size(args)) {
            text += *args[next_arg++];
            ++i;
        } else {
            text += pattern[i];
        }
    }
    return text;
}

void print(std::FILE* out, const std::string& text) {
    platform::print_text(out, text);
}

void note_failed_allocation(std::size_t bytes) {
    t_failed_allocation = bytes;
}

Report out_of_memory_report() {
    return {Message::OutOfMemory, std::to_string(t_failed_allocation)};
}

}  // namespace varnel::driver
