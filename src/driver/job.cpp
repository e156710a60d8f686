#include "driver/job.hpp"

#include "driver/path_ini.hpp"
#include "m32/naming.hpp"
#include "platform/names.hpp"

namespace varnel::driver {

namespace {

struct Rules {
    const char* mark;
    const char* mark_in_capitals;
    const char* output_ending;  // the last three characters of an output's name
    Message not_named;
};

const Rules& rules(Direction direction) {
    static const Rules kToM32{"tga", "TGA", "m32", Message::NoTgaName};
    static const Rules kToTga{"m32", "M32", "tga", Message::NoM32Name};
    return direction == Direction::ToM32 ? kToM32 : kToTga;
}

bool ends_with(const std::string& name, const std::string& end) {
    return name.size() >= end.size() &&
           name.compare(name.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

std::shared_ptr<const Settings> Settings::of_current_directory() {
    // The current directory lasts as long as the run.
    const std::shared_ptr<const platform::Folder> current(std::shared_ptr<const platform::Folder>(),
                                                          &platform::Folder::current());
    std::string full;
    std::optional<std::string> directory;
    if (platform::current_directory(full)) {
        directory = m32::last_directory_component(full, platform::kDirectorySeparator);
    }
    return read(current, current, directory, {});
}

std::shared_ptr<const Settings> Settings::read(std::shared_ptr<const platform::Folder> folder,
                                               std::shared_ptr<const platform::Folder> path_ini,
                                               std::optional<std::string> directory,
                                               std::string shown) {
    std::shared_ptr<Settings> settings(new Settings);
    settings->folder_ = std::move(folder);
    settings->directory_ = std::move(directory);
    settings->shown_ = std::move(shown);
    if (!path_ini ||
        !read_template_prefix(*path_ini, settings->prefix_, settings->path_ini_modified_)) {
        settings->failure_ = Report{Message::NoPathIni};
    }
    settings->templates_ = path_ini ? std::move(path_ini) : settings->folder_;
    return settings;
}

const std::optional<Report>& Settings::failure() const {
    return failure_;
}

const platform::Folder& Settings::folder() const {
    return *folder_;
}

const platform::Folder& Settings::templates() const {
    return *templates_;
}

const std::string& Settings::prefix() const {
    return prefix_;
}

const std::optional<std::string>& Settings::directory() const {
    return directory_;
}

const std::string& Settings::shown() const {
    return shown_;
}

std::int64_t Settings::path_ini_modified() const {
    return path_ini_modified_;
}

bool is_input_name(Direction direction, const std::string& name) {
    const Rules& r = rules(direction);
    return name.find(r.mark) != std::string::npos ||
           name.find(r.mark_in_capitals) != std::string::npos;
}

bool is_taken_in_folder(Direction direction, const std::string& name) {
    const Rules& r = rules(direction);
    return ends_with(name, std::string(".") + r.mark) ||
           ends_with(name, std::string(".") + r.mark_in_capitals);
}

Job::Job(Report report) : report_(std::move(report)) {}

Job Job::convert(Direction direction, std::shared_ptr<const Settings> settings,
                 const std::string& name, Trigger trigger) {
    const Rules& r = rules(direction);
    Job job(Report{r.not_named});
    if (is_input_name(direction, name)) {
        job.direction_ = direction;
        job.trigger_ = trigger;
        job.settings_ = std::move(settings);
        job.input_ = name;
        job.output_ = m32::renamed(name, r.output_ending);
    }
    return job;
}

Job Job::line(Report report, std::string heading) {
    Job job(std::move(report));
    job.heading_ = std::move(heading);
    return job;
}

bool Job::converts() const {
    return settings_ != nullptr;
}

Direction Job::direction() const {
    return direction_;
}

bool Job::only_if_out_of_date() const {
    return trigger_ == Trigger::OutOfDate || trigger_ == Trigger::Found;
}

bool Job::holds_its_lines() const {
    return trigger_ == Trigger::Saved || trigger_ == Trigger::Found;
}

const Settings& Job::settings() const {
    return *settings_;
}

const std::string& Job::input() const {
    return input_;
}

const std::string& Job::output() const {
    return output_;
}

const Report& Job::report() const {
    return report_;
}

const std::string& Job::heading() const {
    return settings_ ? settings_->shown() : heading_;
}

}  // namespace varnel::driver
