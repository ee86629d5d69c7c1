#include "decode/file_window.h"

#include <cstring>
#include <new>
#include <string>

const uint8_t* FileWindow::in_place(int64_t offset, int64_t* available) const {
    const uint8_t* bytes = source_->bytes();
    const int64_t size = source_->size();
    if (bytes == nullptr || offset < 0 || offset >= size) {
        *available = 0;
        return nullptr;
    }
    *available = size - offset;
    return bytes + offset;
}

FileWindow::~FileWindow() {
    for (Chunk& chunk : chunks_) delete[] chunk.bytes;
}

void FileWindow::read_failed(int64_t offset) {
    failed_ = true;
    if (context_ != nullptr) {
        context_->fail(DecodeStatus::io, context_->place() +
                                             "the source cannot be read at offset " +
                                             std::to_string(offset));
    }
}

bool FileWindow::read_chunk(int64_t offset, uint8_t* out, int32_t count, int32_t* taken) {
    const int64_t base = offset - offset % kSize;
    Chunk& chunk = chunks_[(offset / kSize) % kChunks];
    if (chunk.base != base) {
        if (chunk.bytes == nullptr) {
            chunk.bytes = new (std::nothrow) uint8_t[kSize];
            if (chunk.bytes == nullptr) return false;
        }
        chunk.base = -1;
        const int64_t got = source_->read_at(base, chunk.bytes, kSize);
        if (got <= 0) {
            if (got < 0) read_failed(offset);
            *taken = 0;
            return true;
        }
        fetched_ += got;
        chunk.base = base;
        chunk.length = static_cast<int32_t>(got);
    }
    const int64_t available = chunk.base + chunk.length - offset;
    if (available <= 0) {
        *taken = 0;  // the source ends before offset
        return true;
    }
    *taken = count < available ? count : static_cast<int32_t>(available);
    std::memcpy(out, chunk.bytes + (offset - chunk.base), static_cast<size_t>(*taken));
    return true;
}

int32_t FileWindow::read(int64_t offset, uint8_t* out, int32_t count) {
    if (offset < 0 || count <= 0) return 0;
    if (source_->bytes() != nullptr) {
        const int64_t got = source_->read_at(offset, out, count);
        return got > 0 ? static_cast<int32_t>(got) : 0;
    }
    // A source whose reads may stop short (where the ranges it holds end) is read from offset
    // on, into the buffer alone: a read from before it could stop before it.
    if (!no_chunks_ && !source_->reads_short()) {
        int32_t taken = 0;
        if (read_chunk(offset, out, count, &taken)) return taken;
        no_chunks_ = true;
    }
    if (base_ < 0 || offset < base_ || offset >= base_ + length_) {
        const int64_t start = source_->reads_short() ? offset : refill_start(offset, base_);
        const int64_t got = source_->read_at(start, buffer_, kSize);
        if (got <= 0) {
            if (got < 0) read_failed(offset);
            length_ = 0;
            return 0;
        }
        fetched_ += got;
        base_ = start;
        length_ = static_cast<int32_t>(got);
        if (offset >= base_ + length_) return 0;  // the source ends before offset
    }
    const int64_t available = base_ + length_ - offset;
    const int32_t taken = count < available ? count : static_cast<int32_t>(available);
    std::memcpy(out, buffer_ + (offset - base_), static_cast<size_t>(taken));
    return taken;
}

bool FileCursor::seek(int64_t offset) {
    if (offset < 0) return false;
    if (window_ == nullptr) return stream_->seek(offset);
    position_ = offset;
    return true;
}

int FileCursor::get() {
    if (window_ == nullptr) return stream_->get();
    // A source in memory gives its byte where it stands (a block's first bytes are read one by
    // one, block after block).
    int64_t available = 0;
    if (const uint8_t* in_memory = window_->in_place(position_, &available)) {
        ++position_;
        return *in_memory;
    }
    uint8_t byte = 0;
    if (window_->read(position_, &byte, 1) != 1) return ByteStream::kEnd;
    ++position_;
    return byte;
}

bool FileCursor::read(uint8_t* out, int64_t count) {
    if (count <= 0) return count == 0;
    if (window_ == nullptr) return stream_->read(out, count) == count;
    while (count > 0) {
        const int32_t want =
            count < FileWindow::kSize ? static_cast<int32_t>(count) : FileWindow::kSize;
        const int32_t got = window_->read(position_, out, want);
        if (got <= 0) return false;
        position_ += got;
        out += got;
        count -= got;
    }
    return true;
}
