// A read position on a byte source, with a buffer of its own: what the reading routines take
// where a program would pass a file stream. Reads go to the source with read_at, so several
// streams (on several threads) may read one source at once; a stream itself belongs to one
// thread.
#pragma once

#include <cstdint>

#include "format/byte_source.h"
#include "format/decode_context.h"

class ByteStream {
  public:
    static constexpr int32_t kBufferSize = 4096;
    static constexpr int kEnd = -1;  // what get() returns at the end of the source

    explicit ByteStream(const ByteSource& source) : source_(&source) {}
    // A stream of a decode that records its failures and account in context.
    ByteStream(const ByteSource& source, DecodeContext* context)
        : source_(&source), context_(context != nullptr ? context : &own_context_) {}
    ByteStream(const ByteStream&) = delete;
    ByteStream& operator=(const ByteStream&) = delete;

    const ByteSource& source() const { return *source_; }
    int64_t size() const { return source_->size(); }

    // Goes to offset from the start of the source; false for a negative offset (the position
    // is then unchanged). A position beyond the end is allowed; reads there come short.
    bool seek(int64_t offset);
    int64_t tell() const { return position_; }

    // The next byte, or kEnd at the end of the source or when it cannot be read.
    int get() {
        if (position_ >= base_ && position_ < base_ + length_) return data_[position_++ - base_];
        return get_slow();
    }
    // Reads up to count bytes into out; returns how many (fewer at the end of the source).
    int64_t read(void* out, int64_t count);

    // Whether a read of the source failed (rather than ending).
    bool failed() const { return failed_; }
    // Bytes fetched from a source that is not in memory so far (each refill counts whole).
    int64_t bytes_fetched() const { return fetched_; }

    // The decode this stream reads for (a context of its own when none was given).
    DecodeContext* context() { return context_; }

  private:
    int get_slow();
    // Makes the bytes at the position available in data_; false at the end or on failure.
    bool fill();

    const ByteSource* source_;
    int64_t position_ = 0;
    // The bytes from base_ on that are at hand: the source's own (in memory) or the buffer.
    const uint8_t* data_ = nullptr;
    int64_t base_ = 0;
    int64_t length_ = 0;
    bool failed_ = false;
    int64_t fetched_ = 0;
    DecodeContext own_context_;
    DecodeContext* context_ = &own_context_;
    uint8_t buffer_[kBufferSize];
};
