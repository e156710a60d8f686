#include "m32/output_file.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <random>
#include <system_error>

namespace varnel::m32 {

namespace fs = std::filesystem;

namespace {

constexpr fs::perms kAnyWrite =
    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;

// A file marked read-only is not replaced even where the user could override the mark (root,
// or a rename that only needs the folder's permission): the mark is the user's wish.
bool may_replace(const fs::path& target, const fs::file_status& status) {
    if ((status.permissions() & kAnyWrite) == fs::perms::none) {
        return false;
    }
    std::filebuf probe;
    if (probe.open(target, std::ios_base::in | std::ios_base::out | std::ios_base::binary) ==
        nullptr) {
        return false;
    }
    probe.close();
    return true;
}

std::string random_suffix() {
    std::random_device device;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::seed_seq seed{device(), device(), static_cast<unsigned>(now),
                       static_cast<unsigned>(static_cast<unsigned long long>(now) >> 32)};
    std::mt19937 generator(seed);
    char text[9];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(generator()));
    return text;
}

// The new file lies in the target's own folder, so that the final rename never crosses file
// systems, under a name no other program uses.
bool create_temporary(OutputFile& output) {
    const fs::path folder = output.target.parent_path();
    for (int attempt = 0; attempt < 16; ++attempt) {
        const fs::path candidate = folder / (".varnel-" + random_suffix() + ".tmp");
        std::error_code ec;
        if (fs::exists(fs::symlink_status(candidate, ec))) {
            continue;
        }
        output.file.pubsetbuf(nullptr, 0);
        if (output.file.open(candidate, std::ios_base::out | std::ios_base::binary |
                                            std::ios_base::trunc) != nullptr) {
            output.temporary = candidate;
            return true;
        }
        return false;
    }
    return false;
}

bool write_bytes(OutputFile& output, const std::uint8_t* bytes, std::size_t n) {
    return static_cast<std::size_t>(output.file.sputn(reinterpret_cast<const char*>(bytes),
                                                      static_cast<std::streamsize>(n))) == n;
}

}  // namespace

OutputFile::~OutputFile() {
    if (!committed) {
        discard_output(*this);
    }
}

bool open_output(OutputFile& output, const std::string& name, std::size_t block_bytes) {
    if (block_bytes > std::numeric_limits<std::size_t>::max() - kWriteAlignment) {
        return false;
    }
    std::error_code ec;
    fs::path target = name;
    const fs::file_status link_status = fs::symlink_status(target, ec);
    if (fs::is_symlink(link_status)) {
        // The file the link points at is what gets replaced; the link stays.
        target = fs::weakly_canonical(target, ec);
        if (ec) {
            return false;
        }
    }
    const fs::file_status status = fs::status(target, ec);
    if (fs::exists(status)) {
        if (!fs::is_regular_file(status) || !may_replace(target, status)) {
            return false;
        }
        output.keep_permissions = true;
        output.permissions = status.permissions();
    }
    output.target = target;
    try {
        output.buffer.reset(new std::uint8_t[kWriteAlignment + block_bytes]);
        output.block_bytes = block_bytes;
    } catch (const std::bad_alloc&) {
        return false;
    }
    return create_temporary(output);
}

std::uint8_t* block_to_fill(OutputFile& output) {
    return output.buffer.get() + output.pending;
}

bool submit_block(OutputFile& output, std::size_t n) {
    if (output.write_failed || n > output.block_bytes) {
        return false;
    }
    output.pending += n;
    const std::size_t whole = output.pending - output.pending % kWriteAlignment;
    if (whole == 0) {
        return true;
    }
    if (!write_bytes(output, output.buffer.get(), whole)) {
        output.write_failed = true;
        return false;
    }
    output.pending -= whole;
    std::memmove(output.buffer.get(), output.buffer.get() + whole, output.pending);
    return true;
}

bool write_output(OutputFile& output, const std::uint8_t* bytes, std::size_t n) {
    while (n > 0) {
        const std::size_t take = std::min(n, output.block_bytes);
        std::memcpy(block_to_fill(output), bytes, take);
        if (!submit_block(output, take)) {
            return false;
        }
        bytes += take;
        n -= take;
    }
    return true;
}

bool commit_output(OutputFile& output) {
    if (output.write_failed || !write_bytes(output, output.buffer.get(), output.pending) ||
        output.file.close() == nullptr) {
        discard_output(output);
        return false;
    }
    std::error_code ec;
    if (output.keep_permissions) {
        fs::permissions(output.temporary, output.permissions, ec);
    }
    fs::rename(output.temporary, output.target, ec);
    if (ec) {
        discard_output(output);
        return false;
    }
    output.committed = true;
    return true;
}

void discard_output(OutputFile& output) {
    if (output.file.is_open()) {
        output.file.close();
    }
    if (!output.temporary.empty()) {
        std::error_code ec;
        fs::remove(output.temporary, ec);
        output.temporary.clear();
    }
}

}  // namespace varnel::m32
