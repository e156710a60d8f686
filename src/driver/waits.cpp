#include "driver/waits.hpp"

#include <algorithm>

namespace varnel::driver {

bool Waits::written(const WatchedFile& file) {
    const auto [settling, first] = quiet_.insert({file, Settling{}});
    settling->second.until = Clock::now() + kQuiet;
    return first;
}

void Waits::looked(const WatchedFile& file, const std::optional<platform::FileState>& state) {
    const auto settling = quiet_.find(file);
    if (settling != quiet_.end()) {
        settling->second.last = state;
    }
}

void Waits::wait_again(const WatchedFile& file, const std::optional<platform::FileState>& state) {
    quiet_[file] = Settling{Clock::now() + kQuiet, state};
}

std::vector<std::pair<Waits::WatchedFile, std::optional<platform::FileState>>>
Waits::quiet_ended() {
    const Clock::time_point now = Clock::now();
    std::vector<std::pair<WatchedFile, std::optional<platform::FileState>>> ended;
    for (auto it = quiet_.begin(); it != quiet_.end();) {
        if (it->second.until <= now) {
            ended.emplace_back(it->first, it->second.last);
            it = quiet_.erase(it);
        } else {
            ++it;
        }
    }
    return ended;
}

void Waits::hold(Batch::Aside held) {
    held_.emplace_back(Clock::now() + kDamageSettles, std::move(held));
}

void Waits::drop_held(const std::string& heading, const std::string& input) {
    held_.erase(std::remove_if(held_.begin(), held_.end(),
                               [&](const auto& held) {
                                   return held.second.input == input &&
                                          held.second.heading == heading;
                               }),
                held_.end());
}

std::vector<Batch::Aside> Waits::held_due() {
    const Clock::time_point now = Clock::now();
    std::vector<Batch::Aside> due;
    for (auto it = held_.begin(); it != held_.end();) {
        if (it->first <= now) {
            due.push_back(std::move(it->second));
            it = held_.erase(it);
        } else {
            ++it;
        }
    }
    return due;
}

int Waits::timeout() const {
    std::optional<Clock::time_point> next;
    for (const auto& [file, settling] : quiet_) {
        next = next ? std::min(*next, settling.until) : settling.until;
    }
    for (const auto& [at, held] : held_) {
        next = next ? std::min(*next, at) : at;
    }
    if (!next) {
        return -1;
    }
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(wait.count(), 0) + 1);
}

}  // namespace varnel::driver
