#include "format/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>

int64_t ByteSource::read_at(int64_t offset, void* out, int64_t count) const {
    if (offset < 0 || count < 0) return -1;
    if (offset >= size_ || count == 0) return 0;
    if (count > size_ - offset) count = size_ - offset;
    if (bytes_ != nullptr) {
        std::memcpy(out, bytes_ + offset, static_cast<std::size_t>(count));
        return count;
    }
    return read_within(offset, out, count);
}

int64_t ByteSource::read_within(int64_t, void*, int64_t) const { return -1; }

bool ByteSource::read_ranges(std::size_t, const int64_t*, const int64_t*, uint8_t* const*) const {
    return false;
}

namespace {

// A file read with pread on one descriptor, opened once. A memory map would serve reads
// without a system call, but a file cut short by another program while it is mapped turns
// every read beyond its new end into a SIGBUS; a descriptor only reads short.
class FileSource final : public ByteSource {
  public:
    FileSource(int descriptor, int64_t size) : ByteSource(size, nullptr), descriptor_(descriptor) {}
    ~FileSource() override { ::close(descriptor_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

  protected:
    int64_t read_within(int64_t offset, void* out, int64_t count) const override {
        auto* bytes = static_cast<uint8_t*>(out);
        // A file that has become shorter since it was opened reads short.
        return read_repeatedly(count, [&](int64_t done) -> int64_t {
            ssize_t got = 0;
            do {
                got = ::pread(descriptor_, bytes + done, static_cast<size_t>(count - done),
                              static_cast<off_t>(offset + done));
            } while (got < 0 && errno == EINTR);
            return got;
        });
    }

  private:
    int descriptor_;
};

class MemorySource final : public ByteSource {
  public:
    MemorySource(const void* data, std::size_t size)
        : ByteSource(static_cast<int64_t>(size), static_cast<const uint8_t*>(data)) {}
};

}  // namespace

std::unique_ptr<ByteSource> open_file_source(const char* path, int* error_number) {
    auto fail = [error_number](int number) -> std::unique_ptr<ByteSource> {
        if (error_number != nullptr) *error_number = number;
        return nullptr;
    };
    if (path == nullptr) return fail(EINVAL);
    int descriptor = -1;
    do {
        descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0) return fail(errno);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        const int number = errno;
        ::close(descriptor);
        return fail(number);
    }
    if (!S_ISREG(status.st_mode)) {
        ::close(descriptor);
        return fail(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    }
    auto* source = new (std::nothrow) FileSource(descriptor, static_cast<int64_t>(status.st_size));
    if (source == nullptr) {
        ::close(descriptor);
        return fail(ENOMEM);
    }
    return std::unique_ptr<ByteSource>(source);
}

std::unique_ptr<ByteSource> make_memory_source(const void* data, std::size_t size) {
    if (data == nullptr && size > 0) return nullptr;
    static const uint8_t nothing = 0;
    return std::unique_ptr<ByteSource>(
        new (std::nothrow) MemorySource(data != nullptr ? data : &nothing, size));
}
