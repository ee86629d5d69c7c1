#include "library/reader_source.h"

#include <new>
#include <vector>

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

  public:
    bool reads_ranges() const override { return reader_.read_ranges != nullptr; }
    bool read_ranges(std::size_t count, const int64_t* offsets, const int64_t* lengths,
                     uint8_t* const* buffers) const override {
        if (reader_.read_ranges == nullptr) return false;
        std::vector<uint64_t> starts(count);
        std::vector<size_t> sizes(count);
        std::vector<void*> targets(count);
        for (std::size_t i = 0; i < count; ++i) {
            if (offsets[i] < 0 || lengths[i] < 0 || lengths[i] > size() - offsets[i]) return false;
            starts[i] = static_cast<uint64_t>(offsets[i]);
            sizes[i] = static_cast<size_t>(lengths[i]);
            targets[i] = buffers[i];
        }
        return reader_.read_ranges(reader_.context, count, starts.data(), sizes.data(),
                                   targets.data()) == 0;
    }

  private:
    kavel_reader reader_;
};

}  // namespace

std::unique_ptr<ByteSource> make_reader_source(const kavel_reader& reader) {
    if (reader.read_at == nullptr) return nullptr;
    return std::unique_ptr<ByteSource>(new (std::nothrow) ReaderSource(reader));
}
