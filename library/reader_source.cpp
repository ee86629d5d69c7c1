#include "library/reader_source.h"

#include <new>

namespace {

class ReaderSource final : public ByteSource {
  public:
    explicit ReaderSource(const kavel_reader& reader)
        : ByteSource(reader.size > static_cast<uint64_t>(INT64_MAX)
                         ? INT64_MAX
                         : static_cast<int64_t>(reader.size),
                     nullptr),
          reader_(reader) {}
    ~ReaderSource() override {
        if (reader_.close != nullptr) reader_.close(reader_.context);
    }
    ReaderSource(const ReaderSource&) = delete;
    ReaderSource& operator=(const ReaderSource&) = delete;

  protected:
    int64_t read_within(int64_t offset, void* out, int64_t count) const override {
        auto* bytes = static_cast<uint8_t*>(out);
        // A reader may return fewer bytes than asked before its end: ask again for the rest.
        return read_repeatedly(count, [&](int64_t done) {
            return reader_.read_at(reader_.context, static_cast<uint64_t>(offset + done),
                                   bytes + done, static_cast<size_t>(count - done));
        });
    }

  private:
    kavel_reader reader_;
};

}  // namespace

std::unique_ptr<ByteSource> make_reader_source(const kavel_reader& reader) {
    if (reader.read_at == nullptr) return nullptr;
    return std::unique_ptr<ByteSource>(new (std::nothrow) ReaderSource(reader));
}
