#include "driver/job.hpp"

#include "driver/path_ini.hpp"
#include "m32/naming.hpp"
#include "platform/names.hpp"

namespace varnel::driver {

namespace {

Job named(Job::Kind kind, const Settings* settings, const std::string& name, const char* mark,
          const char* mark_in_capitals, const char* ending, Message not_named) {
    const bool marked = name.find(mark) != std::string::npos ||
                        name.find(mark_in_capitals) != std::string::npos;
    if (!marked) {
        return say({not_named});
    }
    Job job;
    job.kind = kind;
    job.settings = settings;
    job.input = name;
    job.output = m32::renamed(name, ending);
    return job;
}

}  // namespace

std::string Settings::path(const std::string& name) const {
    return platform::in_folder(folder, name);
}

std::optional<Report> read_settings(const std::string& folder, Settings& settings) {
    settings.folder = folder;
    if (!read_template_prefix(settings.path(kPathIniName), settings.prefix)) {
        return Report{Message::NoPathIni};
    }
    std::string path;
    settings.has_directory =
        folder.empty() ? platform::current_directory(path) : platform::full_path(folder, path);
    if (settings.has_directory) {
        settings.directory = m32::last_directory_component(path, platform::kDirectorySeparator);
    }
    return std::nullopt;
}

Job to_m32_job(const Settings* settings, const std::string& name) {
    return named(Job::Kind::ToM32, settings, name, "tga", "TGA", "m32", Message::NoTgaName);
}

Job to_tga_job(const Settings* settings, const std::string& name) {
    return named(Job::Kind::ToTga, settings, name, "m32", "M32", "tga", Message::NoM32Name);
}

Job say(const Report& report) {
    Job job;
    job.said = report;
    return job;
}

const Settings& Conversion::settings() const {
    return *job.settings;
}

std::optional<Report> Conversion::begin(platform::File::Opened& opened) {
    place = platform::look_at_output(settings().path(job.output), workspace.folders);
    const std::string path = settings().path(job.input);
    opened = input.open_for_reading(path);
    const bool there =
        opened == platform::File::Opened::Yes || opened == platform::File::Opened::NotRegular;
    const platform::NameKeys input_keys =
        workspace.folders.keys_of(path, there ? &input.state() : nullptr);
    schedule.will_use(index, place.keys, input_keys);
    if (schedule.wait_for_earlier_writers(index, input_keys)) {
        opened = input.open_for_reading(path);
    }
    if (opened == platform::File::Opened::Missing) {
        return Report{Message::InputMissing, job.input};
    }
    print("Processing " + job.input + "\n");
    return std::nullopt;
}

void Conversion::wait_for_earlier_readers_of_the_output() {
    schedule.wait_for_earlier_readers(index, place.keys);
}

void Conversion::wait_for_earlier_writers_of_the_output() {
    if (schedule.wait_for_earlier_writers(index, place.keys)) {
        place = platform::look_at_output(settings().path(job.output), workspace.folders);
    }
}

bool Conversion::look_at_when_written(const std::string& path, platform::FileState& seen) {
    const bool there = platform::look_at(path, seen);
    if (schedule.wait_for_earlier_writers(
            index, workspace.folders.keys_of(path, there ? &seen : nullptr))) {
        return platform::look_at(path, seen);
    }
    return there;
}

std::optional<Report> Conversion::open_output(const platform::OutputFile::Shape& shape) {
    platform::OutputFile& output = workspace.output;
    switch (output.open(place, shape)) {
        case platform::OutputFile::Opened::Yes:
            return std::nullopt;
        case platform::OutputFile::Opened::Refused:
            break;
        case platform::OutputFile::Opened::OutOfMemory:
            return Report{Message::OutOfMemory, std::to_string(output.memory_requested())};
    }
    return Report{Message::CannotOpenOutput, job.output};
}

}  // namespace varnel::driver
