#include "format/byte_stream.h"

#include <cstring>

bool ByteStream::seek(int64_t offset) {
    if (offset < 0) return false;
    position_ = offset;
    return true;
}

bool ByteStream::fill() {
    if (position_ >= base_ && position_ < base_ + length_) return true;
    const int64_t size = source_->size();
    if (position_ >= size) return false;
    if (source_->bytes() != nullptr) {
        // In memory: the whole source is at hand, nothing is copied.
        data_ = source_->bytes();
        base_ = 0;
        length_ = size;
        return true;
    }
    const int64_t got = source_->read_at(position_, buffer_, kBufferSize);
    if (got <= 0) {
        if (got < 0) {
            failed_ = true;
            context_->fail(DecodeStatus::io, context_->place() + "the source cannot be read at offset " +
                                                 std::to_string(position_));
        }
        length_ = 0;
        return false;
    }
    fetched_ += got;
    data_ = buffer_;
    base_ = position_;
    length_ = got;
    return true;
}

int ByteStream::get_slow() {
    if (!fill()) return kEnd;
    return data_[position_++ - base_];
}

int64_t ByteStream::read(void* out, int64_t count) {
    auto* bytes = static_cast<uint8_t*>(out);
    int64_t done = 0;
    while (done < count) {
        if (!fill()) break;
        const int64_t available = base_ + length_ - position_;
        const int64_t take = count - done < available ? count - done : available;
        std::memcpy(bytes + done, data_ + (position_ - base_), static_cast<std::size_t>(take));
        position_ += take;
        done += take;
    }
    return done;
}
