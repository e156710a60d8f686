// What a watch waits out before it acts on a save.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "driver/batch.hpp"
#include "platform/folder.hpp"

namespace varnel::driver {

// Files still being written, each until it has stayed as it is for the quiet time, and damage
// read in saved files, said only once the file has stayed so for longer: a writer that saves in
// pieces has the file read as damaged between them.
class Waits {
public:
    using Clock = std::chrono::steady_clock;
    // A file by its watch and its name there.
    using WatchedFile = std::pair<int, std::string>;

    // Where the system does not tell when a writer is done with a file, it is taken as saved once
    // it has stayed as it is this long and no writer holds it.
    static constexpr auto kQuiet = std::chrono::milliseconds(100);
    // How long damage read in a saved file waits for another save.
    static constexpr auto kDamageSettles = std::chrono::milliseconds(500);

    // The file was written to: its quiet time begins anew. True where it was not waited for yet,
    // and its state at this first look is to be noted.
    bool written(const WatchedFile& file);
    // How the file is at a look, compared at the end of its quiet time.
    void looked(const WatchedFile& file, const std::optional<platform::FileState>& state);
    // The file was still written at the end of its quiet time: it waits another.
    void wait_again(const WatchedFile& file, const std::optional<platform::FileState>& state);
    // The files whose quiet time has ended, with their states at the last look; no longer waited
    // for.
    std::vector<std::pair<WatchedFile, std::optional<platform::FileState>>> quiet_ended();

    // Damage read in a saved file, said once it has stayed so.
    void hold(Batch::Aside held);
    // A new save of the file, which has the last word on it.
    void drop_held(const std::string& heading, const std::string& input);
    // The damage whose wait has ended.
    std::vector<Batch::Aside> held_due();

    // Milliseconds until the next wait ends; -1 where none is waited for.
    int timeout() const;

private:
    struct Settling {
        Clock::time_point until;
        std::optional<platform::FileState> last;
    };
    std::map<WatchedFile, Settling> quiet_;
    std::vector<std::pair<Clock::time_point, Batch::Aside>> held_;
};

}  // namespace varnel::driver
