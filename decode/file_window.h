// A read-ahead window onto a source's bytes at given offsets, with a buffer of its own: blocks
// that follow one another in the file are served from one read, and reading never moves a
// stream's position. A source whose bytes lie in memory is read in place, without the buffer.
#pragma once

#include <cstdint>

#include "format/byte_stream.h"

class FileWindow {
  public:
    static constexpr int32_t kSize = 1 << 14;
    // Bytes a read that jumps backwards keeps after its offset: the rest of the buffer holds
    // the bytes before it, so that blocks laid out from the end of the file backwards are
    // served from one read for every kSize - kAhead bytes.
    static constexpr int32_t kAhead = 1 << 12;

    // Where the buffer's next read starts for a read at offset outside the buffer whose last
    // read started at base (-1: none yet).
    static int64_t refill_start(int64_t offset, int64_t base) {
        if (base < 0 || offset >= base) return offset;
        const int64_t start = offset - (kSize - kAhead);
        return start > 0 ? start : 0;
    }

    // A source read by copy keeps up to kChunks pieces of kSize bytes, each starting at a
    // multiple of kSize, taken as reads first meet them: a decode that goes back and forth
    // between a few parts of the file (the blocks of one band of the picture, where they lie by
    // place; the next rows of blocks of many tile streams, where each stream's blocks lie
    // together) reads each part once. At most kChunks * kSize bytes (4 MiB), and no more than
    // the reads touch.
    static constexpr int32_t kChunks = 256;

    // A read that fails is recorded in context (when given) as the decode's failure.
    explicit FileWindow(const ByteSource& source, DecodeContext* context = nullptr)
        : source_(&source), context_(context) {}
    ~FileWindow();
    FileWindow(const FileWindow&) = delete;
    FileWindow& operator=(const FileWindow&) = delete;

    // Copies up to count bytes of the source from offset into out and returns how many: fewer
    // than count when the buffer ends first (the next call reads on), 0 at or beyond the end
    // of the source, before its start, or on a read error.
    int32_t read(int64_t offset, uint8_t* out, int32_t count);

    // The bytes from offset on that are at hand without a copy (a source in memory): their
    // count in *available, or null when the source is not in memory or offset is outside it.
    const uint8_t* in_place(int64_t offset, int64_t* available) const;

    // Bytes fetched from the source into the buffer so far (every refill counts whole).
    int64_t bytes_fetched() const { return fetched_; }
    // Whether a read of the source failed (rather than ending).
    bool failed() const { return failed_; }

  private:
    struct Chunk {
        int64_t base = -1;  // -1: holds nothing
        int32_t length = 0;
        uint8_t* bytes = nullptr;
    };

    // Reads through the kept chunks; false when none can be taken (the memory is refused).
    bool read_chunk(int64_t offset, uint8_t* out, int32_t count, int32_t* taken);
    // Records a read of the source that failed.
    void read_failed(int64_t offset);

    const ByteSource* source_;
    DecodeContext* context_;
    Chunk chunks_[kChunks];
    bool no_chunks_ = false;  // an allocation failed: the buffer alone serves
    int64_t base_ = -1;
    int32_t length_ = 0;
    int64_t fetched_ = 0;
    bool failed_ = false;
    uint8_t buffer_[kSize];
};

// Reads a source's bytes in order from a position: through a stream (whose position moves
// with it), or through a window when one is given (the stream is then left alone).
class FileCursor {
  public:
    explicit FileCursor(ByteStream* stream) : stream_(stream) {}
    FileCursor(ByteStream* stream, FileWindow* window) : stream_(stream), window_(window) {}

    // Goes to offset: false when the stream cannot go there (a negative offset).
    bool seek(int64_t offset);
    // The next byte, or ByteStream::kEnd at the end of the source.
    int get();
    // Reads count bytes into out: false when the source ends first.
    bool read(uint8_t* out, int64_t count);
    // Where the next byte is read from (through a window; the stream keeps its own).
    int64_t position() const { return position_; }
    // The decode the cursor reads for (none for a window without a stream).
    DecodeContext* context() const { return stream_ != nullptr ? stream_->context() : nullptr; }

  private:
    ByteStream* stream_;
    FileWindow* window_ = nullptr;
    int64_t position_ = 0;
};
