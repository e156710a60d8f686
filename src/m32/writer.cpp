#include "m32/writer.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <random>

namespace varnel::m32 {

namespace {

std::string random_suffix() {
    std::random_device device;
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    std::seed_seq seed{device(), device(), static_cast<unsigned>(now),
                       static_cast<unsigned>(static_cast<unsigned long long>(now) >> 32)};
    std::mt19937_64 generator(seed);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(generator()));
    return text;
}

std::uint64_t round_up(std::uint64_t offset, std::uint64_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

}  // namespace

Writer::~Writer() {
    discard();
}

Writer::Opened Writer::open(const std::string& name, const HeaderStart& start,
                            const TemplateBlock& block, std::uint16_t width, std::uint16_t height,
                            tga::RowOrder order) {
    // A new file; the buffer stays for it to use.
    discard();
    rows_done_ = 0;
    room_rows_ = 0;
    failed_ = false;
    if (!platform::resolve_link(name, target_)) {
        return Opened::Refused;
    }
    existing_ = platform::inspect_existing(target_);
    if (existing_.exists && !existing_.replaceable) {
        return Opened::Refused;
    }
    std::memcpy(head_, start.data(), start.size());
    std::memcpy(head_ + kTemplateBlockOffset, block.data(), block.size());
    order_ = order;
    row_bytes_ = std::size_t{width} * tga::kRecordBytes;
    rows_total_ = row_bytes_ == 0 ? 0 : height;
    rows_per_block_ = rows_total_ == 0 ? 0
                                       : static_cast<std::uint32_t>(std::clamp<std::size_t>(
                                             kBlockBytes / row_bytes_, 1, rows_total_));
    // The pending part of the file never reaches kWriteAlignment bytes, and the header joins it
    // only where it is shorter than that.
    capacity_ = kWriteAlignment + rows_per_block_ * row_bytes_;
    if (!buffer_ || capacity_ > allocated_) {
        buffer_.reset(new (std::nothrow) std::uint8_t[capacity_]);
        allocated_ = buffer_ ? capacity_ : 0;
    }
    if (!buffer_) {
        return Opened::OutOfMemory;
    }
    if (!create_temporary()) {
        return Opened::Refused;
    }
    // Space for the whole file at once: the system then finds it in one piece instead of a page
    // at a time as the file grows, which makes the writes a quarter faster where it can.
    platform::reserve_space(file_, kPixelRecordsOffset + std::uint64_t{rows_total_} * row_bytes_);
    if (order_ == tga::RowOrder::TopFirst) {
        std::memcpy(buffer_.get(), head_, kPixelRecordsOffset);
        pending_ = kPixelRecordsOffset;
        pending_offset_ = 0;
    } else {
        pending_ = 0;
        pending_offset_ = kPixelRecordsOffset + std::uint64_t{rows_total_} * row_bytes_;
    }
    return Opened::Yes;
}

std::uint64_t Writer::memory_requested() const {
    return capacity_;
}

std::uint32_t Writer::rows_left() const {
    return rows_total_ - rows_done_;
}

// The new file lies in the output's own folder, so that the final rename never crosses file
// systems, under a name no other program uses, and tracked from the moment it exists, so that no
// interruption can leave it behind.
bool Writer::create_temporary() {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string name = platform::beside(target_, ".varnel-" + random_suffix() + ".tmp");
        if (platform::create_new_file(name, file_, tracked_)) {
            temporary_ = name;
            return true;
        }
    }
    return false;
}

Room Writer::room() {
    room_rows_ = 0;
    if (failed_ || !platform::is_open(file_) || rows_left() == 0) {
        return {};
    }
    room_rows_ = std::min(rows_per_block_, rows_left());
    const std::size_t bytes = room_rows_ * row_bytes_;
    std::uint8_t* data = order_ == tga::RowOrder::TopFirst
                             ? buffer_.get() + pending_
                             : buffer_.get() + capacity_ - pending_ - bytes;
    return {data, bytes};
}

bool Writer::write_piece(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (!failed_ && !platform::write_at(file_, offset, bytes, n)) {
        failed_ = true;
    }
    return !failed_;
}

bool Writer::commit() {
    if (failed_ || room_rows_ == 0) {
        return false;
    }
    const std::size_t bytes = room_rows_ * row_bytes_;
    rows_done_ += room_rows_;
    room_rows_ = 0;
    pending_ += bytes;
    std::uint8_t* buffer = buffer_.get();
    if (order_ == tga::RowOrder::TopFirst) {
        const std::size_t whole = pending_ - pending_ % kWriteAlignment;
        if (whole > 0) {
            write_piece(pending_offset_, buffer, whole);
            pending_offset_ += whole;
            pending_ -= whole;
            std::memmove(buffer, buffer + whole, pending_);
        }
        return !failed_;
    }
    pending_offset_ -= bytes;
    const std::uint64_t aligned = round_up(pending_offset_, kWriteAlignment);
    const auto before = static_cast<std::size_t>(aligned - pending_offset_);
    if (before < pending_) {
        std::uint8_t* held = buffer + capacity_ - pending_;
        write_piece(aligned, held + before, pending_ - before);
        std::memmove(buffer + capacity_ - before, held, before);
        pending_ = before;
    }
    return !failed_;
}

bool Writer::finish() {
    if (failed_ || !platform::is_open(file_) || rows_left() > 0) {
        discard();
        return false;
    }
    std::uint8_t* buffer = buffer_.get();
    if (order_ == tga::RowOrder::TopFirst) {
        write_piece(pending_offset_, buffer, pending_);
    } else {
        std::uint8_t* whole = buffer + capacity_ - pending_ - kPixelRecordsOffset;
        std::memcpy(whole, head_, kPixelRecordsOffset);
        write_piece(0, whole, kPixelRecordsOffset + pending_);
    }
    if (failed_) {
        discard();
        return false;
    }
    platform::copy_access(file_, existing_);
    // Should the new file's name have been taken over by someone else meanwhile, whatever now
    // bears it is neither renamed nor removed.
    if (!platform::names_file(temporary_, file_)) {
        platform::untrack_unfinished_file(tracked_);
        tracked_ = -1;
        platform::close_file(file_);
        temporary_.clear();
        return false;
    }
    if (!platform::close_file(file_) || !platform::rename_file(temporary_, target_)) {
        discard();
        return false;
    }
    temporary_.clear();
    platform::untrack_unfinished_file(tracked_);
    tracked_ = -1;
    return true;
}

void Writer::discard() {
    platform::close_file(file_);
    if (!temporary_.empty()) {
        platform::remove_file(temporary_);
        temporary_.clear();
    }
    platform::untrack_unfinished_file(tracked_);
    tracked_ = -1;
}

}  // namespace varnel::m32
