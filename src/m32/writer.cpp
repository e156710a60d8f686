#include "m32/writer.hpp"

#include <algorithm>
#include <cstring>
#include <new>

namespace varnel::m32 {

namespace {

std::uint64_t round_up(std::uint64_t offset, std::uint64_t alignment) {
    return (offset + alignment - 1) / alignment * alignment;
}

}  // namespace

Writer::Opened Writer::open(const platform::OutputPlace& place, const HeaderStart& start,
                            const TemplateBlock& block, std::uint16_t width, std::uint16_t height,
                            RowOrder order) {
    // A new file; the buffer stays for it to use.
    discard();
    rows_done_ = 0;
    room_rows_ = 0;
    failed_ = false;
    if (place.state == platform::OutputPlace::State::Refused) {
        return Opened::Refused;
    }
    std::memcpy(head_, start.data(), start.size());
    std::memcpy(head_ + kTemplateBlockOffset, block.data(), block.size());
    order_ = order;
    row_bytes_ = std::size_t{width} * kRecordBytes;
    rows_total_ = row_bytes_ == 0 ? 0 : height;
    rows_per_block_ = rows_total_ == 0 ? 0
                                       : static_cast<std::uint32_t>(std::clamp<std::size_t>(
                                             kBlockBytes / row_bytes_, 1, rows_total_));
    // The pending part of the file stays below kWriteAlignment bytes; the last block and the
    // header join it.
    capacity_ = kPixelRecordsOffset + kWriteAlignment + rows_per_block_ * row_bytes_;
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
    // at a time as the file grows.
    const std::uint64_t size = kPixelRecordsOffset + std::uint64_t{rows_total_} * row_bytes_;
    replacement_.file().reserve(size);
    if (order_ == RowOrder::TopFirst) {
        std::memcpy(buffer_.get(), head_, kPixelRecordsOffset);
        pending_ = kPixelRecordsOffset;
        pending_offset_ = 0;
    } else {
        pending_ = 0;
        pending_offset_ = size;
    }
    return Opened::Yes;
}

std::uint64_t Writer::memory_requested() const {
    return capacity_;
}

std::uint32_t Writer::rows_left() const {
    return rows_total_ - rows_done_;
}

Room Writer::room() {
    room_rows_ = 0;
    if (failed_ || !replacement_.file().is_open() || rows_left() == 0) {
        return {};
    }
    room_rows_ = std::min(rows_per_block_, rows_left());
    const std::size_t bytes = room_rows_ * row_bytes_;
    if (order_ == RowOrder::TopFirst) {
        return {buffer_.get() + pending_, rows_done_, room_rows_};
    }
    return {buffer_.get() + capacity_ - pending_ - bytes, rows_left() - room_rows_, room_rows_};
}

bool Writer::write_piece(std::uint64_t offset, const std::uint8_t* bytes, std::size_t n) {
    if (!failed_ && !replacement_.file().write_at(offset, bytes, n)) {
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
    if (order_ == RowOrder::BottomFirst) {
        pending_offset_ -= bytes;
    }
    if (rows_left() == 0) {
        return true;
    }
    std::uint8_t* buffer = buffer_.get();
    if (order_ == RowOrder::TopFirst) {
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

bool Writer::finish() {
    if (failed_ || !replacement_.file().is_open() || rows_left() > 0) {
        discard();
        return false;
    }
    std::uint8_t* buffer = buffer_.get();
    if (order_ == RowOrder::TopFirst) {
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
    return replacement_.finish(false) == platform::Replacement::Put::Done;
}

void Writer::discard() {
    replacement_.abandon();
}

}  // namespace varnel::m32
