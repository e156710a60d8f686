#include "driver/options.hpp"

#include <algorithm>

#include "platform/folders.hpp"

namespace varnel::driver {

namespace {

enum class Effect { Workers, Folders, ToTga, KeepHeader, Update, Watch, Help, Version };

// Windows users ask a console program for help with "/?".
#ifdef _WIN32
constexpr const char* kWindowsHelp = "/?";
#else
constexpr const char* kWindowsHelp = nullptr;
#endif

struct Option {
    Effect effect;
    const char* spellings[3];  // the first null ends them
    const char* argument;      // what follows the option, as the help names it
    const char* help;
};

constexpr Option kOptions[] = {
    {Effect::Workers, {"-j"}, "N", "convert N files at a time (default: one per processor)"},
    {Effect::Folders, {"-r"}, "", "convert the files below the folders named, each in its folder"},
    {Effect::ToTga, {"--to-tga"}, "", "take M32 files back to TGA files beside them"},
    {Effect::KeepHeader, {"--keep-header"}, "", "replace only the pixels of M32 files of the size"},
    {Effect::Update, {"--update"}, "", "convert only files whose output is out of date"},
    {Effect::Watch, {"--watch"}, "", "-r --update, then convert each file as it is saved"},
    {Effect::Help, {"-h", "--help", kWindowsHelp}, "", "show this text"},
    {Effect::Version, {"--version"}, "", "show the version"},
};

const Option* option_spelled(const std::string& argument) {
    for (const Option& option : kOptions) {
        for (const char* spelling : option.spellings) {
            if (spelling == nullptr) {
                break;
            }
            if (argument == spelling) {
                return &option;
            }
        }
    }
    return nullptr;
}

// A number of workers: 1 to 9999.
bool is_count(const std::string& text) {
    return !text.empty() && text.size() <= 4 &&
           text.find_first_not_of("0123456789") == std::string::npos &&
           text.find_first_not_of('0') != std::string::npos;
}

std::string option_lines() {
    std::string text = "Options:\n";
    for (const Option& option : kOptions) {
        std::string left;
        for (const char* spelling : option.spellings) {
            if (spelling == nullptr) {
                break;
            }
            left += (left.empty() ? "" : ", ") + std::string(spelling);
        }
        if (*option.argument != '\0') {
            left += std::string(" ") + option.argument;
        }
        left.resize(std::max<std::size_t>(left.size() + 1, 18), ' ');
        text += "  " + left + option.help + "\n";
    }
    return text;
}

}  // namespace

Options parse_options(const std::vector<std::string>& arguments) {
    Options options;
    std::vector<std::string> names;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const Option* option = option_spelled(arguments[i]);
        const bool counted = i + 1 < arguments.size() && is_count(arguments[i + 1]);
        if (option == nullptr || (option->effect == Effect::Workers && !counted)) {
            names.push_back(arguments[i]);
            continue;
        }
        const bool first_show = options.show == Options::Show::Conversion;
        switch (option->effect) {
            case Effect::Workers:
                options.workers = static_cast<unsigned>(std::stoul(arguments[++i]));
                break;
            case Effect::Folders:
                options.folders = true;
                break;
            case Effect::ToTga:
                options.to_tga = true;
                break;
            case Effect::KeepHeader:
                options.keep_header = true;
                break;
            case Effect::Update:
                options.update = true;
                break;
            case Effect::Watch:
                options.watch = true;
                options.folders = true;
                break;
            case Effect::Help:
                options.show = first_show ? Options::Show::Help : options.show;
                break;
            case Effect::Version:
                options.show = first_show ? Options::Show::Version : options.show;
                break;
        }
    }
    // Patterns stand for folders too where folders are walked, whatever comes after them.
    for (const std::string& name : names) {
        for (std::string& match : platform::expand_pattern(name, options.folders)) {
            options.names.push_back(std::move(match));
        }
    }
    return options;
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

std::string drop_hint_text() {
    return "Drop TGA and M32 files, or folders of them, on varnel.exe to convert them.\n";
}

std::string help_text() {
    return banner_text() + option_lines() +
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
           "  varnel --keep-header a.tga    a.m32 with its own header and new pixels\n"
           "  varnel --watch textures       every TGA file below textures converted as it is\n"
           "                                saved, until Ctrl-C\n"
           "\n"
           "Each file's lines stay together; the exit status is that of the first file that\n"
           "failed.\n";
}

}  // namespace varnel::driver
