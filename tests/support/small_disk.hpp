// A tmpfs of its own for one test, mounted over a folder of a scene: a disk that fills, or one
// made read-only, where neither the permission bits nor the real disk would show a failure.
#pragma once

#ifdef __linux__
#include <filesystem>
#include <string>

namespace varnel::testing {

// Mounted when made, if the process may mount; always unmounted at the end.
class SmallDisk {
public:
    // `options` as mount(8) takes them for a tmpfs: "size=1m", "size=1m,nr_inodes=16".
    SmallDisk(const std::filesystem::path& where, const std::string& options);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const {
        return mounted_;
    }
    // Why mounting failed, as the reason for skipping a test.
    std::string why_not() const;
    bool make_read_only();

private:
    std::filesystem::path path_;
    std::string options_;
    bool mounted_ = false;
    int error_ = 0;
};

}  // namespace varnel::testing
#endif
