// A stream over given bytes, positioned at its start: bytes in memory (read in place), or bytes
// served only through read_at copies, as a file's are.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "format/byte_source.h"
#include "format/byte_stream.h"

// Bytes held by the test but given out only by copy (bytes() is null), like a file's.
class CopiedSource final : public ByteSource {
public:
    explicit CopiedSource(std::vector<uint8_t> bytes, bool reads_short = false)
        : ByteSource(static_cast<int64_t>(bytes.size()), nullptr), bytes_(std::move(bytes)),
          reads_short_(reads_short) {}
    // Said of sources that hold only some ranges of a file (their reads may stop short).
    bool reads_short() const override { return reads_short_; }

protected:
    int64_t read_within(int64_t offset, void* out, int64_t count) const override {
        std::memcpy(out, bytes_.data() + offset, static_cast<size_t>(count));
        return count;
    }

private:
    std::vector<uint8_t> bytes_;
    bool reads_short_;
};

class BlockStream {
public:
    explicit BlockStream(const std::vector<uint8_t>& bytes, bool in_memory = true)
        : bytes_(bytes),
          source_(in_memory ? make_memory_source(bytes_.data(), bytes_.size())
                            : std::make_unique<CopiedSource>(bytes)),
          stream_(*source_) {}
    BlockStream(const BlockStream&) = delete;
    BlockStream& operator=(const BlockStream&) = delete;
    ByteStream* get() { return &stream_; }
    const ByteSource& source() const { return *source_; }
    long position() { return static_cast<long>(stream_.tell()); }

private:
    std::vector<uint8_t> bytes_;
    std::unique_ptr<ByteSource> source_;
    ByteStream stream_;
};
