#include "m32/output_file.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
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

bool write_block(OutputFile& output, const std::uint8_t* bytes, std::size_t n) {
    return static_cast<std::size_t>(output.file.sputn(reinterpret_cast<const char*>(bytes),
                                                      static_cast<std::streamsize>(n))) == n;
}

void write_handed_blocks(OutputFile& output) {
    std::unique_lock<std::mutex> guard(output.lock);
    for (;;) {
        output.changed.wait(guard, [&] { return output.queued_bytes > 0 || output.stop; });
        if (output.queued_bytes == 0) {
            return;
        }
        // `filling` cannot change while a block is queued: the caller waits for it first.
        const std::uint8_t* block = output.blocks[1 - output.filling].get();
        const std::size_t n = output.queued_bytes;
        guard.unlock();
        const bool ok = write_block(output, block, n);
        guard.lock();
        output.write_failed = output.write_failed || !ok;
        output.queued_bytes = 0;
        output.changed.notify_all();
    }
}

// Lets the writer finish what it was handed and ends it; the file is the caller's again.
bool stop_writer(OutputFile& output) {
    if (output.writer.joinable()) {
        {
            std::lock_guard<std::mutex> guard(output.lock);
            output.stop = true;
        }
        output.changed.notify_all();
        output.writer.join();
    }
    return !output.write_failed;
}

}  // namespace

OutputFile::~OutputFile() {
    if (!committed) {
        discard_output(*this);
    }
}

bool open_output(OutputFile& output, const std::string& name, std::size_t block_bytes,
                 bool in_background) {
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
        output.blocks[0].reset(new std::uint8_t[block_bytes]);
        if (in_background) {
            output.blocks[1].reset(new std::uint8_t[block_bytes]);
        }
        output.block_bytes = block_bytes;
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!create_temporary(output)) {
        return false;
    }
    if (in_background) {
        try {
            output.writer = std::thread(write_handed_blocks, std::ref(output));
        } catch (const std::system_error&) {
            // Without a thread the caller writes each block itself: slower, never wrong.
        }
    }
    return true;
}

std::uint8_t* block_to_fill(OutputFile& output) {
    return output.blocks[output.filling].get();
}

bool submit_block(OutputFile& output, std::size_t n) {
    if (n > output.block_bytes) {
        return false;
    }
    if (!output.writer.joinable()) {
        output.write_failed = output.write_failed || !write_block(output, block_to_fill(output), n);
        return !output.write_failed;
    }
    std::unique_lock<std::mutex> guard(output.lock);
    output.changed.wait(guard, [&] { return output.queued_bytes == 0; });
    if (output.write_failed) {
        return false;
    }
    if (n > 0) {
        output.queued_bytes = n;
        output.filling = 1 - output.filling;
        output.changed.notify_all();
    }
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
    if (!stop_writer(output) || output.file.close() == nullptr) {
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
    stop_writer(output);
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
