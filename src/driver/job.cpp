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

std::shared_ptr<const Folder> Folder::read(const std::string& path) {
    std::shared_ptr<Folder> folder(new Folder);
    folder->path_ = path;
    if (!read_template_prefix(folder->path(kPathIniName), folder->prefix_)) {
        folder->failure_ = Report{Message::NoPathIni};
        return folder;
    }
    std::string full;
    if (path.empty() ? platform::current_directory(full) : platform::full_path(path, full)) {
        folder->directory_ = m32::last_directory_component(full, platform::kDirectorySeparator);
    }
    return folder;
}

const std::optional<Report>& Folder::failure() const {
    return failure_;
}

std::string Folder::path(const std::string& name) const {
    return platform::in_folder(path_, name);
}

const std::string& Folder::prefix() const {
    return prefix_;
}

const std::optional<std::string>& Folder::directory() const {
    return directory_;
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

Job Job::convert(Direction direction, std::shared_ptr<const Folder> folder,
                 const std::string& name) {
    const Rules& r = rules(direction);
    Job job(Report{r.not_named});
    if (is_input_name(direction, name)) {
        job.direction_ = direction;
        job.folder_ = std::move(folder);
        job.input_ = name;
        job.output_ = m32::renamed(name, r.output_ending);
    }
    return job;
}

Job Job::line(Report report) {
    return Job(std::move(report));
}

bool Job::converts() const {
    return folder_ != nullptr;
}

Direction Job::direction() const {
    return direction_;
}

const Folder& Job::folder() const {
    return *folder_;
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

}  // namespace varnel::driver
