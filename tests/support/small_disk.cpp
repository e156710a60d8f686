#include "small_disk.hpp"

#ifdef __linux__
#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace varnel::testing {

SmallDisk::SmallDisk(const std::filesystem::path& where, const std::string& options)
    : path_(where), options_(options) {
    std::filesystem::create_directory(where);
    mounted_ = ::mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) == 0;
    error_ = mounted_ ? 0 : errno;
}

SmallDisk::~SmallDisk() {
    if (mounted_ && ::umount2(path_.c_str(), 0) != 0) {
        ::umount2(path_.c_str(), MNT_DETACH);
    }
}

std::string SmallDisk::why_not() const {
    return "mounting a tmpfs is not permitted here (" + std::string(std::strerror(error_)) +
           "); skipped";
}

bool SmallDisk::make_read_only() {
    return ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, options_.c_str()) == 0;
}

}  // namespace varnel::testing
#endif
