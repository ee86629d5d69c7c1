// A read-ahead window onto a file's bytes at given offsets, with a buffer of its own: blocks
// that follow one another in the file are served from one read, and reading never moves the
// stream's position (nor asks the system for it, as every seek on a stdio stream does).
#pragma once

#include <cstdint>
#include <cstdio>

class FileWindow {
  public:
    static constexpr int32_t kSize = 1 << 14;

    // A window onto the file behind stream, or nothing usable (usable() is false) when the
    // stream has no file descriptor (a stream in memory).
    explicit FileWindow(FILE* stream);

    bool usable() const { return descriptor_ >= 0; }

    // Copies up to count bytes of the file from offset into out and returns how many: fewer
    // than count when the buffer ends first (the next call reads on), 0 at or beyond the end
    // of the file, before its start, or on a read error.
    int32_t read(int64_t offset, uint8_t* out, int32_t count);

  private:
    int descriptor_;
    int64_t base_ = 0;
    int32_t length_ = 0;
    uint8_t buffer_[kSize];
};

// Reads a file's bytes in order from a position: through the stream (whose position moves
// with it), or through a window when one is given (the stream is then left alone).
class FileCursor {
  public:
    explicit FileCursor(FILE* stream) : stream_(stream) {}
    FileCursor(FILE* stream, FileWindow* window) : stream_(stream), window_(window) {}

    // Goes to offset: false when the stream cannot go there (a negative offset).
    bool seek(int64_t offset);
    // The next byte, or EOF at the end of the file.
    int get();
    // Reads count bytes into out: false when the file ends first.
    bool read(uint8_t* out, int64_t count);
    // Where the next byte is read from (through a window; the stream keeps its own).
    int64_t position() const { return position_; }

  private:
    FILE* stream_;
    FileWindow* window_ = nullptr;
    int64_t position_ = 0;
};
