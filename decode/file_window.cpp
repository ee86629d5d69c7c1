#include "decode/file_window.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

FileWindow::FileWindow(FILE* stream) : descriptor_(stream == nullptr ? -1 : fileno(stream)) {}

int32_t FileWindow::read(int64_t offset, uint8_t* out, int32_t count) {
    if (descriptor_ < 0 || offset < 0 || count <= 0) return 0;
    if (offset < base_ || offset >= base_ + length_) {
        ssize_t got = 0;
        do {
            got = pread(descriptor_, buffer_, kSize, static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        if (got <= 0) {
            length_ = 0;
            return 0;
        }
        base_ = offset;
        length_ = static_cast<int32_t>(got);
    }
    const int64_t available = base_ + length_ - offset;
    const int32_t taken = count < available ? count : static_cast<int32_t>(available);
    std::memcpy(out, buffer_ + (offset - base_), static_cast<size_t>(taken));
    return taken;
}

bool FileCursor::seek(int64_t offset) {
    if (offset < 0) return false;
    if (window_ == nullptr) return std::fseek(stream_, static_cast<long>(offset), SEEK_SET) == 0;
    position_ = offset;
    return true;
}

int FileCursor::get() {
    if (window_ == nullptr) return std::fgetc(stream_);
    uint8_t byte = 0;
    if (window_->read(position_, &byte, 1) != 1) return EOF;
    ++position_;
    return byte;
}

bool FileCursor::read(uint8_t* out, int64_t count) {
    if (count <= 0) return count == 0;
    if (window_ == nullptr) {
        return std::fread(out, 1, static_cast<size_t>(count), stream_) ==
               static_cast<size_t>(count);
    }
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
