// A file opened as the library opens it (one descriptor, read with pread), with a stream on it:
// what tests pass where the reading routines take a stream or a source.
#pragma once

#include <memory>
#include <string>

#include "format/byte_source.h"
#include "format/byte_stream.h"

namespace kavel_test {

class OpenedFile {
  public:
    explicit OpenedFile(const std::string& path) : source_(open_file_source(path.c_str())) {
        if (source_ == nullptr) source_ = make_memory_source(nullptr, 0);  // reads as empty
        stream_ = std::make_unique<ByteStream>(*source_);
    }
    bool opened() const { return source_->size() > 0; }
    ByteStream* stream() { return stream_.get(); }
    const ByteSource& source() const { return *source_; }

  private:
    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<ByteStream> stream_;
};

}  // namespace kavel_test
