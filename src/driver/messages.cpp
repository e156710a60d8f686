#include "driver/messages.hpp"

#include <iterator>

#include "platform/console.hpp"

namespace varnel::driver {

namespace {

struct Entry {
    Message message;
    const char* pattern;
    int status;
};

constexpr Entry kMessages[] = {
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
};

const Entry& entry(Message message) {
    for (const Entry& e : kMessages) {
        if (e.message == message) {
            return e;
        }
    }
    return kMessages[0];
}

}  // namespace

int exit_status(Message message) {
    return entry(message).status;
}

std::string message_text(const Report& report) {
    const std::string pattern = entry(report.message).pattern;
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

std::string version_text() {
    return "TGA to M32 Converter " VARNEL_VERSION "\n";
}

std::string banner_text() {
    return version_text() +
           "\n"
           "Usage: varnel TARGAFILE\n\n"
           "Supported Resolutions (32bpp):\n"
           "16x16, 16x32, 32x16, 32x32, 32x64, 64x32, 64x64\n"
           "64x128, 128x64, 128x128, 256x256, 512x512\n\n";
}

std::string help_text() {
    return banner_text() +
           "Options:\n"
           "  -j N              convert N files at a time (default: one per processor)\n"
           "  -r                convert the files below the folders named, each in its folder\n"
           "  --to-tga          take M32 files back to TGA files beside them\n"
#ifdef _WIN32
           "  -h, --help, /?    show this text\n"
#else
           "  -h, --help        show this text\n"
#endif
           "  --version         show the version\n"
           "\n"
           "Examples:\n"
           "  varnel wall.tga               wall.m32 beside wall.tga\n"
           "  varnel a.tga b.tga            several files in one run\n"
#ifdef _WIN32
           "  varnel *.tga                  every TGA file of this folder\n"
#endif
           "  varnel -r textures            every TGA file below textures, with the path.ini\n"
           "                                of its own folder\n"
           "  varnel --to-tga wall.m32      wall.tga back from wall.m32, to edit it\n"
           "  varnel --to-tga -r textures   every M32 file below textures back to TGA\n"
           "\n"
           "Each file's lines stay together; the exit status is that of the first file that\n"
           "failed.\n";
}

namespace {
thread_local std::size_t t_failed_allocation = 0;
}  // namespace

void note_failed_allocation(std::size_t bytes) {
    t_failed_allocation = bytes;
}

Report out_of_memory_report() {
    return {Message::OutOfMemory, std::to_string(t_failed_allocation)};
}

}  // namespace varnel::driver
