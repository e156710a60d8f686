#include "io_floor.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

namespace bench {

namespace {

constexpr std::size_t kBlock = std::size_t{1} << 20;

// Reads up to n bytes; fewer only at the end of the file.
bool read_block(int fd, char* at, std::size_t n, std::size_t& got) {
    got = 0;
    while (got < n) {
        const ssize_t r = read(fd, at + got, n - got);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r < 0) {
            return false;
        }
        if (r == 0) {
            break;
        }
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool write_block(int fd, const char* at, std::size_t n) {
    while (n > 0) {
        const ssize_t w = write(fd, at, n);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        at += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

bool copy_through(int in, int out, std::uint64_t output_size) {
    std::vector<char> block(kBlock);
    bool input_done = false;
    std::uint64_t written = 0;
    while (!input_done || written < output_size) {
        if (!input_done) {
            std::size_t got = 0;
            if (!read_block(in, block.data(), block.size(), got)) {
                return false;
            }
            input_done = got < block.size();
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), output_size - written));
        if (!write_block(out, block.data(), n)) {
            return false;
        }
        written += n;
    }
    return true;
}

}  // namespace

int io_floor(const std::string& input, const std::string& output, std::uint64_t output_size) {
    const int in = open(input.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        std::perror(input.c_str());
        return 1;
    }
    const std::size_t slash = output.rfind('/');
    std::string temporary =
        (slash == std::string::npos ? std::string() : output.substr(0, slash + 1)) +
        ".floor-XXXXXX";
    const int out = mkstemp(temporary.data());
    if (out < 0) {
        std::perror(temporary.c_str());
        close(in);
        return 1;
    }
    const bool copied = copy_through(in, out, output_size);
    close(in);
    if (close(out) != 0 || !copied || rename(temporary.c_str(), output.c_str()) != 0) {
        std::perror(output.c_str());
        unlink(temporary.c_str());
        return 1;
    }
    return 0;
}

}  // namespace bench
