#include "platform/output_file.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace varnel::platform {

namespace {

std::uint64_t round_up(std::uint64_t offset, std::uint64_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

void copy(std::uint8_t* to, const std::vector<std::uint8_t>& bytes) {
    if (!bytes.empty()) {
        std::memcpy(to, bytes.data(), bytes.size());
    }
}

}  // namespace

OutputFile::Opened OutputFile::open(const OutputPlace& place, const Shape& shape) {
    // A new file; the buffer stays for it to use.
    discard();
    rows_done_ = 0;
    room_rows_ = 0;
    failed_ = false;
    if (place.state == OutputPlace::State::Refused) {
        return Opened::Refused;
    }
    shape_ = shape;
    if (shape_.row_bytes == 0) {
        shape_.rows = 0;
    }
    const std::size_t head = shape_.head.size();
    const std::size_t tail = shape_.tail.size();
    const std::size_t row_bytes = shape_.row_bytes;
    rows_per_block_ = shape_.rows == 0 ? 0
                                       : static_cast<std::uint32_t>(std::clamp<std::size_t>(
                                             kBlockBytes / row_bytes, 1, shape_.rows));
    // The pending part of the file stays below kWriteAlignment bytes but for the tail; the last
    // block, the head and the tail join it.
    capacity_ = head + kWriteAlignment + rows_per_block_ * row_bytes + tail;
    if (!buffer_ || capacity_ > allocated_) {
        buffer_.reset(new (std::nothrow) std::uint8_t[capacity_]);
        allocated_ = buffer_ ? capacity_ : 0;
    }
    if (!buffer_) {
        return Opened::OutOfMemory;
    }
    if (!replacement_.begin(place)) {
        return Opened::Refused;
    }
    // Space for the whole file at once: the system then finds it in one piece instead of a page
    // at a time as the file grows. A file written in one piece gains nothing by it.
    const std::uint64_t rows_end = head + std::uint64_t{shape_.rows} * row_bytes;
    if (rows_end + tail > kBlockBytes) {
        replacement_.file().reserve(rows_end + tail);
    }
    if (shape_.from_the_end) {
        copy(buffer_.get() + capacity_ - tail, shape_.tail);
        pending_ = tail;
        pending_offset_ = rows_end;
    } else {
        copy(buffer_.get(), shape_.head);
        pending_ = head;
        pending_offset_ = 0;
    }
    return Opened::Yes;
}

std::uint64_t OutputFile::memory_requested() const {
    return capacity_;
}

std::uint32_t OutputFile::rows_left() const {
    return shape_.rows - rows_done_;
}

Room OutputFile::room() {
    room_rows_ = 0;
    if (failed_ || !replacement_.file().is_open() || rows_left() == 0) {
        return {};
    }
    room_rows_ = std::min(rows_per_block_, rows_left());
    const std::size_t bytes = room_rows_ * shape_.row_bytes;
    if (shape_.from_the_end) {
        return {buffer_.get() + capacity_ - pending_ - bytes, rows_left() - room_rows_, room_rows_,
                shape_.row_bytes};
    }
    return {buffer_.get() + pending_, rows_done_, room_rows_, shape_.row_bytes};
}

bool OutputFile::write_piece(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (!failed_ && !replacement_.file().write_at(offset, bytes, n)) {
        failed_ = true;
    }
    return !failed_;
}

bool OutputFile::commit() {
    if (failed_ || room_rows_ == 0) {
        return false;
    }
    const std::size_t bytes = room_rows_ * shape_.row_bytes;
    rows_done_ += room_rows_;
    room_rows_ = 0;
    pending_ += bytes;
    if (shape_.from_the_end) {
        pending_offset_ -= bytes;
    }
    if (rows_left() == 0) {
        return true;
    }
    std::uint8_t* buffer = buffer_.get();
    if (!shape_.from_the_end) {
        const std::size_t whole = pending_ - pending_ % kWriteAlignment;
        if (whole > 0) {
            write_piece(pending_offset_, buffer, whole);
            pending_offset_ += whole;
            pending_ -= whole;
            std::memmove(buffer, buffer + whole, pending_);
        }
        return !failed_;
    }
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

Put OutputFile::finish(Existing existing) {
    if (failed_ || !replacement_.file().is_open() || rows_left() > 0) {
        discard();
        return Put::Failed;
    }
    std::uint8_t* buffer = buffer_.get();
    if (shape_.from_the_end) {
        const std::size_t head = shape_.head.size();
        std::uint8_t* whole = buffer + capacity_ - pending_ - head;
        copy(whole, shape_.head);
        write_piece(0, whole, head + pending_);
    } else {
        copy(buffer + pending_, shape_.tail);
        write_piece(pending_offset_, buffer, pending_ + shape_.tail.size());
    }
    if (failed_) {
        discard();
        return Put::Failed;
    }
    return replacement_.finish(existing);
}

void OutputFile::discard() {
    replacement_.abandon();
}

}  // namespace varnel::platform
