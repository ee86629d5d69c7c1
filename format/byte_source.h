// Where an image's bytes come from: a file held open for the image's lifetime, bytes in memory,
// or a caller's reader. Every read names its offset (there is no shared position), so several
// threads may read one source at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // Total size in bytes, as it was when the source was opened.
    int64_t size() const { return size_; }
    // The source's bytes when they lie in memory (a memory source or a mapped file), else null.
    const uint8_t* bytes() const { return bytes_; }

    // Copies up to count bytes from offset into out and returns how many it copied: fewer only
    // at the end of the source (or, for a source holding ranges fetched ahead, where held bytes
    // meet bytes not held: every reader reads on from where a read stopped), 0 at or beyond it,
    // -1 when the source cannot be read.
    int64_t read_at(int64_t offset, void* out, int64_t count) const;

    // Whether read_ranges fetches several ranges together (a reader for which every request is
    // costly, such as one over HTTP). Sources that cannot leave it false.
    virtual bool reads_ranges() const { return false; }
    // Reads count ranges, each whole and within the source, into buffers in one call: false
    // when the source cannot (or the read fails).
    virtual bool read_ranges(std::size_t count, const int64_t* offsets, const int64_t* lengths,
                             uint8_t* const* buffers) const;
    // Whether reads may come back short before the end of the source (where held bytes meet
    // bytes not held): a read-ahead then starts at the offset it needs, never before it.
    virtual bool reads_short() const { return false; }

  protected:
    ByteSource(int64_t size, const uint8_t* bytes) : size_(size), bytes_(bytes) {}
    // What read_at does for a source whose bytes are not in memory; offset and count lie
    // within the source.
    virtual int64_t read_within(int64_t offset, void* out, int64_t count) const;

    // Calls read_some(done) (which reads at most count - done bytes at offset + done and returns
    // how many, 0 at the end, -1 on failure) until count bytes are read or it reads no more:
    // the bytes read, or -1 when the first call fails.
    template <typename ReadSome>
    static int64_t read_repeatedly(int64_t count, ReadSome read_some) {
        int64_t done = 0;
        while (done < count) {
            const int64_t got = read_some(done);
            if (got < 0 || got > count - done) return done > 0 ? done : -1;
            if (got == 0) break;
            done += got;
        }
        return done;
    }

  private:
    int64_t size_;
    const uint8_t* bytes_;
};

// Opens path for reading and holds its descriptor until the source is destroyed; null when the
// file cannot be opened or is not a regular file (*error_number then tells why, as errno).
std::unique_ptr<ByteSource> open_file_source(const char* path, int* error_number = nullptr);

// The size bytes at data, not copied: they must stay valid and unchanged while the source lives.
std::unique_ptr<ByteSource> make_memory_source(const void* data, std::size_t size);
