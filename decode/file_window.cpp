#include "decode/file_window.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

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
