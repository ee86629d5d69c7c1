#include "decode/block_decoder.h"

#include <bit>
#include <cstring>

#include "decode/dequantise.h"
#include "decode/entropy_decoder.h"
#include "decode/file_window.h"

namespace {

// Further bits after each symbol: 8 for 101, 102, 105; 16 for 103, 104, 106.
constexpr int extra_bits(int symbol) {
    return (symbol == 101 || symbol == 102 || symbol == 105)
               ? 8
               : ((symbol == 103 || symbol == 104 || symbol == 106) ? 16 : 0);
}

// A window onto the file's bytes from the block's data on, read in chunks; a few bytes before
// the current chunk stay available so that the stream can step back over a marker. A source in
// memory is read in place.
class ByteWindow {
  public:
    explicit ByteWindow(ByteStream* stream) : stream_(stream) {}
    // The file's bytes from offset on, read through file (the stream is left alone).
    ByteWindow(FileWindow* file, int64_t offset) : file_(file), file_offset_(offset) {
        int64_t available = 0;
        const uint8_t* bytes = file->in_place(offset, &available);
        if (bytes != nullptr) {
            data_ = bytes;
            length_ = available;
            end_of_file_ = true;  // nothing more to fetch
        }
    }

    // The byte at index (counted from the window's start), or -1 beyond the end of the file.
    int at(int64_t index) {
        // Before the kept history (a step back past the block's start) reads as the end.
        if (index < base_) return -1;
        while (index >= base_ + length_) {
            if (end_of_file_ || !refill()) return -1;
        }
        return data_[index - base_];
    }

    // The bytes from index on that are in memory now (none before the kept history).
    const uint8_t* span(int64_t index, int64_t* available) const {
        const int64_t offset = index - base_;
        if (offset < 0 || offset >= length_) {
            *available = 0;
            return nullptr;
        }
        *available = length_ - offset;
        return data_ + offset;
    }

  private:
    static constexpr int32_t kSize = 4096;
    static constexpr int32_t kHistory = 8;

    // Reads grow from a small first chunk (most blocks are short, and the next block usually
    // follows in the stream's own buffer) to the whole window.
    bool refill() {
        const auto keep = static_cast<int32_t>(length_ < kHistory ? length_ : kHistory);
        std::memmove(buffer_, buffer_ + length_ - keep, static_cast<size_t>(keep));
        base_ += length_ - keep;
        length_ = keep;
        const int32_t want = chunk_ < kSize - keep ? chunk_ : kSize - keep;
        chunk_ = chunk_ * 2 < kSize ? chunk_ * 2 : kSize;
        int64_t got = 0;
        if (file_ != nullptr) {
            got = file_->read(file_offset_, buffer_ + length_, want);
            file_offset_ += got;
        } else {
            got = stream_->read(buffer_ + length_, want);
        }
        if (got <= 0) {
            end_of_file_ = true;
            return false;
        }
        length_ += got;
        return true;
    }

    ByteStream* stream_ = nullptr;
    FileWindow* file_ = nullptr;
    int64_t file_offset_ = 0;
    uint8_t buffer_[kSize];
    const uint8_t* data_ = buffer_;
    int64_t base_ = 0;
    int64_t length_ = 0;
    int32_t chunk_ = 256;
    bool end_of_file_ = false;
};

// How many coefficients a symbol covers, and the value it stores (if any).
struct Meaning {
    int64_t covered;
    bool is_value;
    int64_t value;
};

inline Meaning meaning(int symbol, uint32_t extra) {
    if (symbol >= 107) return {1, true, symbol - 180};
    if (symbol == 0) return {0, false, 0};
    if (symbol <= 100) return {symbol, false, 0};
    if (symbol <= 104) {
        const bool negative = symbol == 102 || symbol == 104;
        return {1, true, negative ? -int64_t{extra} : int64_t{extra}};
    }
    return {int64_t{extra}, false, 0};
}

enum class Path { code, magnitude };

// The bits the fast path works on, kept by the decoding loop in registers: count bits of acc
// are valid, most significant first.
struct Bits {
    uint64_t acc;
    int count;
};

constexpr int kLookupBits = BlockDecoderTables::kLookupBits;

// The bytes of a block and the bit-at-a-time reader. The fast path takes data bytes (0xFF
// 0x00 standing for 0xFF) into its Bits up to the first marker or the end of the file; the
// slow mode, entered when a symbol needs bits that the fast path cannot hold, takes one bit
// at a time and fetches each next byte with the stuffing rule of the path that took the last
// bit.
class BitFeed {
  public:
    explicit BitFeed(ByteStream* stream) : bytes_(stream) {}
    BitFeed(FileWindow* file, int64_t offset) : bytes_(file, offset) {}

    bool blocked() const { return blocked_; }

    // Adds data bytes to b until it holds more than 56 bits or a marker or the end of the
    // file is next (then blocked() is true).
    __attribute__((always_inline)) void fill(Bits* b) {
        int64_t available = 0;
        const uint8_t* p = bytes_.span(position_, &available);
        if (available >= 8) {
            uint64_t word = 0;
            std::memcpy(&word, p, 8);
            if constexpr (std::endian::native == std::endian::little)
                word = __builtin_bswap64(word);
            const int take = (64 - b->count) >> 3;  // whole bytes that fit
            const uint64_t kept = take == 8 ? ~uint64_t{0} : ~(~uint64_t{0} >> (8 * take));
            // Flags the 0xFF bytes (and, harmlessly, perhaps bytes before one).
            const uint64_t inverted = ~word;
            const uint64_t ff = (inverted - 0x0101010101010101u) & ~inverted & 0x8080808080808080u;
            if ((ff & kept) == 0) {
                b->acc |= (word & kept) >> b->count;
                b->count += 8 * take;
                position_ += take;
                return;
            }
        }
        *b = fill_bytewise(*b);
    }

    // The next symbol when the fast path cannot take it: in slow mode from here on.
    __attribute__((noinline)) bool next_rare(Bits b, const BlockDecoderTables& t, Meaning* m) {
        if (!slow_) {
            slow_ = true;
            acc_ = b.acc;
            bits_ = b.count;
            // If the last bit taken emptied the bits, the byte after is fetched now, as that
            // bit's path would have. The fast path takes a symbol only with 32 bits or more
            // in hand (codes are at most 16 bits long), or a short one with more bits in hand
            // than its code takes, so only a 16-bit code with 16 further bits empties them:
            // the last bit was on the magnitude path.
            if (bits_ == 0) fetch(Path::magnitude);
        }
        int symbol = 0;
        uint32_t extra = 0;
        if (!next_slow(t, &symbol, &extra)) return false;
        *m = meaning(symbol, extra);
        return true;
    }

  private:
    __attribute__((noinline)) Bits fill_bytewise(Bits b) {
        while (b.count <= 56 && !blocked_) {
            const int c = bytes_.at(position_);
            if (c < 0) {
                blocked_ = true;
            } else if (c != 0xFF) {
                b.acc |= uint64_t(c) << (56 - b.count);
                b.count += 8;
                position_ += 1;
            } else if (bytes_.at(position_ + 1) == 0) {
                b.acc |= uint64_t{0xFF} << (56 - b.count);
                b.count += 8;
                position_ += 2;
            } else {
                blocked_ = true;  // a marker, or 0xFF at the end of the file
            }
        }
        return b;
    }

    int read_byte() {
        const int c = bytes_.at(position_);
        if (c < 0) {
            past_end_ = true;
            return 0xFF;  // the end of the file reads as 0xFF
        }
        position_ += 1;
        return c;
    }

    void fetch(Path path) {
        const int c = read_byte();
        acc_ = uint64_t(c) << 56;
        bits_ = 8;
        if (c != 0xFF) return;
        const int next = read_byte();
        if (path == Path::magnitude && next != 0) position_ -= 2;  // read the 0xFF again
    }

    bool take(Path path, unsigned* bit) {
        if (past_end_) return false;
        *bit = static_cast<unsigned>(acc_ >> 63);
        acc_ <<= 1;
        bits_ -= 1;
        if (bits_ == 0) fetch(path);
        return true;
    }

    bool next_slow(const BlockDecoderTables& t, int* symbol, uint32_t* extra) {
        unsigned node = 0;
        do {
            unsigned bit = 0;
            if (!take(Path::code, &bit)) return false;
            node = t.tree.slots[bit][node];
        } while (node < kLeafBase);
        if (node >= kLeafBase + 256) return false;
        *symbol = static_cast<int>(node - kLeafBase);
        *extra = 0;
        for (int i = extra_bits(*symbol); i > 0; --i) {
            unsigned bit = 0;
            if (!take(Path::magnitude, &bit)) return false;
            *extra = (*extra << 1) | bit;
        }
        return true;
    }

    ByteWindow bytes_;
    int64_t position_ = 0;  // index of the next byte to fetch
    bool blocked_ = false;
    // Slow mode: its bits, most significant first.
    bool slow_ = false;
    bool past_end_ = false;
    uint64_t acc_ = 0;
    int bits_ = 0;
};

// Makes sure b holds at least 32 bits (true), or tells that the fast path cannot go on.
__attribute__((always_inline)) inline bool ensure_bits(Bits* b, BitFeed* feed) {
    if (b->count >= 32) return true;
    if (!feed->blocked()) feed->fill(b);
    return b->count >= 32;
}

// A symbol whose code is longer than the look-up or that has further bits, from b (which
// holds at least 32 bits).
inline bool next_long(Bits* b, const BlockDecoderTables& t, const BlockDecoderTables::Entry& e,
                      Meaning* m) {
    unsigned node;
    if (e.kind == BlockDecoderTables::kSymbol) {
        b->acc <<= e.length;
        b->count -= e.length;
        node = kLeafBase + e.value;
    } else if (e.kind == BlockDecoderTables::kEmpty) {
        return false;
    } else {
        b->acc <<= kLookupBits;
        b->count -= kLookupBits;
        node = e.value;
        do {
            const unsigned bit = static_cast<unsigned>(b->acc >> 63);
            b->acc <<= 1;
            b->count -= 1;
            node = t.tree.slots[bit][node];
        } while (node < kLeafBase);
        if (node >= kLeafBase + 256) return false;
    }
    const int symbol = static_cast<int>(node - kLeafBase);
    const int n = extra_bits(symbol);
    uint32_t extra = 0;
    if (n > 0) {
        extra = static_cast<uint32_t>(b->acc >> (64 - n));
        b->acc <<= n;
        b->count -= n;
    }
    *m = meaning(symbol, extra);
    return true;
}

// The look-up entry of the next symbol when the fast path can take it, or nullptr when it
// cannot. b then holds at least 32 bits; or fewer, when a marker or the end of the file is near,
// and the entry is a kShort one whose codes (both, for a pair) lie wholly within them: the slow
// mode would take the same bits for it and fetch no byte before the symbol after, so the block's
// last symbols are taken here too instead of bit by bit.
__attribute__((always_inline)) inline const BlockDecoderTables::Entry* peek_entry(
    Bits* b, BitFeed* feed, const BlockDecoderTables& t) {
    const bool enough = ensure_bits(b, feed);
    const BlockDecoderTables::Entry* e = &t.lookup[b->acc >> (64 - kLookupBits)];
    if (!enough) [[unlikely]] {
        return e->kind == BlockDecoderTables::kShort && e->taken_length < b->count ? e : nullptr;
    }
    return e;
}

// Takes the bits of symbols with no further bits whose codes fit the look-up (kShort entry).
__attribute__((always_inline)) inline void take_bits(Bits* b, int length) {
    b->acc <<= length;
    b->count -= length;
}

// The next symbol whose entry from peek_entry is not a kShort one (or none).
inline bool next_other(Bits* b, BitFeed* feed, const BlockDecoderTables& t,
                       const BlockDecoderTables::Entry* e, Meaning* m) {
    if (e == nullptr) {
        const bool ok = feed->next_rare(*b, t, m);
        b->count = 0;  // the slow mode keeps its own bits from now on
        return ok;
    }
    return next_long(b, t, *e, m);
}

inline int16_t low16(int64_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFFu));
}

}  // namespace

namespace {

BlockDecoderTables::Entry symbol_entry(int symbol, int length) {
    const Meaning m = meaning(symbol, 0);
    const bool further = extra_bits(symbol) > 0;
    BlockDecoderTables::Entry e{static_cast<uint8_t>(symbol), static_cast<uint8_t>(length),
                                further ? BlockDecoderTables::kSymbol : BlockDecoderTables::kShort};
    e.taken_length = static_cast<uint8_t>(length);
    e.covered = static_cast<uint8_t>(m.covered);
    e.amount = static_cast<int8_t>(m.value);
    return e;
}

// Fills the look-up entries of every kLookupBits-bit value that starts with the depth bits of
// prefix, which lead from the root to node.
void fill_lookup(BlockDecoderTables* tables, unsigned node, int depth, unsigned prefix) {
    for (unsigned bit = 0; bit < 2; ++bit) {
        const unsigned slot = tables->tree.slots[bit][node];
        const int d = depth + 1;
        const unsigned p = (prefix << 1) | bit;
        const unsigned first = p << (kLookupBits - d), count = 1u << (kLookupBits - d);
        if (slot >= kLeafBase + 256) {
            for (unsigned v = first; v < first + count; ++v) {
                tables->lookup[v] = {0, static_cast<uint8_t>(d), BlockDecoderTables::kEmpty};
            }
        } else if (slot >= kLeafBase) {
            const BlockDecoderTables::Entry e = symbol_entry(static_cast<int>(slot - kLeafBase), d);
            for (unsigned v = first; v < first + count; ++v) tables->lookup[v] = e;
        } else if (d == kLookupBits) {
            tables->lookup[p] = {static_cast<uint8_t>(slot), static_cast<uint8_t>(kLookupBits),
                                 BlockDecoderTables::kNode};
        } else {
            fill_lookup(tables, slot, d, p);
        }
    }
}

// Names in every kShort entry the kShort symbol that follows when its whole code lies within
// the entry's remaining bits (the bits after them do not matter to it).
void pair_lookup(BlockDecoderTables* tables) {
    constexpr unsigned kMask = (1u << kLookupBits) - 1;
    for (unsigned v = 0; v <= kMask; ++v) {
        BlockDecoderTables::Entry& e = tables->lookup[v];
        if (e.kind != BlockDecoderTables::kShort || e.length >= kLookupBits) continue;
        const BlockDecoderTables::Entry& next = tables->lookup[(v << e.length) & kMask];
        if (next.kind != BlockDecoderTables::kShort || e.length + next.length > kLookupBits) {
            continue;
        }
        e.taken_length = static_cast<uint8_t>(e.length + next.length);
        e.next_covered = next.covered;
        e.next_amount = next.amount;
    }
}

}  // namespace

int build_block_decoder_tables(const CodeTable& table, BlockDecoderTables* tables) {
    if (build_code_tree(table, &tables->tree) != 0) return 1;
    fill_lookup(tables, 0, 0, 0);
    pair_lookup(tables);
    return 0;
}

namespace {

// The next symbol that the look-up does not name alone, through a copy of the bits: the
// decoding loop's own bits never have their address taken, so that they stay in registers.
__attribute__((always_inline)) inline bool next_other_symbol(Bits* b, BitFeed* feed,
                                                             const BlockDecoderTables& t,
                                                             const BlockDecoderTables::Entry* e,
                                                             Meaning* m) {
    Bits copy = *b;
    const bool ok = next_other(&copy, feed, t, e, m);
    *b = copy;
    return ok;
}

// The decoding of one block into the window's rows: sink.line(row) is the first value of
// window row `row`; sink.put_short(line, column, v) stores a one-symbol value v (-73..75, or
// 0 where a run or nothing was coded, on a place that holds zero already) and
// sink.put(line, column, v) any value. The symbols taken are counted in taken. The sink is a
// copy and the count a local of the caller, so that both stay in registers.
template <typename Sink>
__attribute__((always_inline)) inline int decode_block_symbols(BitFeed& feed, int first,
                                                               const BlockDecoderTables& tables,
                                                               const RegionRect& block,
                                                               const RegionRect& wanted,
                                                               Sink sink, int64_t& taken) {
    Bits bits{uint64_t{static_cast<uint8_t>(first)} << 56, 8};

    const int64_t block_width = int64_t{block.x1} - block.x0 + 1;
    const int64_t wanted_width = int64_t{wanted.x1} - wanted.x0 + 1;
    const int64_t wanted_height = int64_t{wanted.y1} - wanted.y0 + 1;
    if (wanted_width <= 0 || wanted_height <= 0) return 0;
    // pos: the next coefficient of the block (raster order); first_wanted: the block position
    // of the first sample of window row `row`.
    int64_t pos = 0;
    int64_t row = 0;
    int64_t first_wanted = (int64_t{wanted.y0} - block.y0) * block_width + (wanted.x0 - block.x0);
    Meaning m{};
    for (;;) {
        // Skip the coefficients before the window row without storing them.
        while (pos < first_wanted) {
            const BlockDecoderTables::Entry* e = peek_entry(&bits, &feed, tables);
            if (e != nullptr && e->kind == BlockDecoderTables::kShort) [[likely]] {
                // Both symbols of the entry, unless the first reaches the window row: the
                // second is then given back (the bits taken depend on the entry alone).
                const Bits before = bits;
                take_bits(&bits, e->taken_length);
                pos += e->covered;
                if (pos >= first_wanted) [[unlikely]] {
                    bits = before;
                    take_bits(&bits, e->length);
                    ++taken;
                    break;
                }
                pos += e->next_covered;
                taken += e->taken_length != e->length ? 2 : 1;
                continue;
            }
            ++taken;
            if (!next_other_symbol(&bits, &feed, tables, e, &m)) return 1;
            pos += m.covered;
        }
        // A run may have carried pos beyond the window's row: move the window down (and
        // perhaps beyond pos: then back to skipping).
        while (first_wanted + wanted_width < pos) {
            first_wanted += block_width;
            ++row;
        }
        if (row >= wanted_height) return 0;
        if (pos < first_wanted) continue;
        auto* line = sink.line(row);
        int64_t column = pos - first_wanted;
        while (column < wanted_width) {
            const BlockDecoderTables::Entry* e = peek_entry(&bits, &feed, tables);
            if (e != nullptr && e->kind == BlockDecoderTables::kShort) [[likely]] {
                // A value or a run: a run stores a zero where a zero is already, so both take
                // the same path. The entry's second symbol is taken too, unless the first ends
                // the row: it is then given back (the bits taken depend on the entry alone).
                // An entry without a second symbol stores a zero where the next coefficient
                // goes, which holds zero still.
                const Bits before = bits;
                take_bits(&bits, e->taken_length);
                sink.put_short(line, column, e->amount);
                column += e->covered;
                if (column >= wanted_width) [[unlikely]] {
                    bits = before;
                    take_bits(&bits, e->length);
                    ++taken;
                    break;
                }
                sink.put_short(line, column, e->next_amount);
                column += e->next_covered;
                taken += e->taken_length != e->length ? 2 : 1;
                continue;
            }
            ++taken;
            if (!next_other_symbol(&bits, &feed, tables, e, &m)) return 1;
            if (m.is_value) {
                sink.put(line, column, low16(m.value));
                ++column;
            } else {
                column += m.covered;
            }
        }
        pos = first_wanted + column;
        first_wanted += block_width;
        ++row;
        while (first_wanted + wanted_width < pos) {
            first_wanted += block_width;
            ++row;
        }
        if (row >= wanted_height) return 0;
    }
}

// decode_block_symbols, adding the symbols taken to *decoded (when not null) however the
// block ends.
template <typename Sink>
int decode_block_bits(BitFeed& feed, int first, const BlockDecoderTables& tables,
                      const RegionRect& block, const RegionRect& wanted, const Sink& sink,
                      int64_t* decoded) {
    int64_t taken = 0;
    const int result = decode_block_symbols(feed, first, tables, block, wanted, sink, taken);
    if (decoded != nullptr) *decoded += taken;
    return result;
}

// The block's start: 0xFF 0xA3, then the first data byte (0xFF 0x00 standing for 0xFF). A
// marker there means a block without coefficients. The bits then come from the bytes after.
enum class BlockStart { failed, empty, data };

BlockStart read_block_start(FileCursor& cursor, int* first) {
    if (cursor.get() != 0xFF) return BlockStart::failed;
    if (cursor.get() != 0xA3) return BlockStart::failed;
    *first = cursor.get();
    if (*first == ByteStream::kEnd) return BlockStart::failed;
    if (*first == 0xFF) {
        const int next = cursor.get();
        if (next == ByteStream::kEnd) return BlockStart::failed;
        if (next != 0) return BlockStart::empty;
    }
    return BlockStart::data;
}

template <typename Sink>
int decode_block_core(ByteStream* stream, const BlockDecoderTables& tables, const RegionRect& block,
                      const RegionRect& wanted, Sink& sink, int64_t* decoded) {
    FileCursor cursor(stream);
    int first = 0;
    const BlockStart start = read_block_start(cursor, &first);
    // A marker: leave the stream on its 0xFF.
    if (start == BlockStart::empty) return stream->seek(stream->tell() - 2) ? 0 : 1;
    if (start == BlockStart::failed) return 1;
    BitFeed feed(stream);
    return decode_block_bits(feed, first, tables, block, wanted, sink, decoded);
}

template <typename Sink>
int decode_block_core(FileWindow* file, int64_t offset, const BlockDecoderTables& tables,
                      const RegionRect& block, const RegionRect& wanted, Sink& sink,
                      int64_t* decoded) {
    FileCursor cursor(nullptr, file);
    if (!cursor.seek(offset)) return 1;
    int first = 0;
    const BlockStart start = read_block_start(cursor, &first);
    if (start != BlockStart::data) return start == BlockStart::empty ? 0 : 1;
    BitFeed feed(file, cursor.position());
    return decode_block_bits(feed, first, tables, block, wanted, sink, decoded);
}

struct QuantisedSink {
    int16_t* output;
    int64_t width;
    int16_t* line(int64_t row) { return output + row * width; }
    static void put_short(int16_t* line, int64_t column, int32_t value) {
        line[column] = static_cast<int16_t>(value);
    }
    static void put(int16_t* line, int64_t column, int16_t value) { line[column] = value; }
};

struct LeafSink {
    float* destination;
    int64_t pitch;
    const DequantiseTable* table;
    float* line(int64_t row) { return destination + row * pitch; }
    void put_short(float* line, int64_t column, int32_t value) {
        line[column] = table->coded[value - kSmallestCodedValue];
    }
    void put(float* line, int64_t column, int16_t value) {
        line[column] = dequantise_one(value, *table);
    }
};

}  // namespace

int decode_block_with_tables(ByteStream* stream, int16_t* output, const BlockDecoderTables& tables,
                             const RegionRect& block, const RegionRect& wanted, int64_t* symbols) {
    QuantisedSink sink{output, int64_t{wanted.x1} - wanted.x0 + 1};
    return decode_block_core(stream, tables, block, wanted, sink, symbols);
}

namespace {

// Zeros are not coded one by one: the window must start at 0.0, and only the coded values are
// stored.
void clear_window(const RegionRect& wanted, float* destination, int64_t pitch) {
    const int64_t width = int64_t{wanted.x1} - wanted.x0 + 1;
    const int64_t height = int64_t{wanted.y1} - wanted.y0 + 1;
    for (int64_t r = 0; r < height; ++r) {
        std::memset(destination + r * pitch, 0, static_cast<size_t>(width) * sizeof(float));
    }
}

}  // namespace

int decode_block_into(ByteStream* stream, const BlockDecoderTables& tables, const RegionRect& block,
                      const RegionRect& wanted, const DequantiseTable& dequantise,
                      float* destination, int64_t pitch, bool clear, int64_t* symbols) {
    if (clear) clear_window(wanted, destination, pitch);
    LeafSink sink{destination, pitch, &dequantise};
    return decode_block_core(stream, tables, block, wanted, sink, symbols);
}

int decode_block_into_at(FileWindow* file, int64_t offset, const BlockDecoderTables& tables,
                         const RegionRect& block, const RegionRect& wanted,
                         const DequantiseTable& dequantise, float* destination, int64_t pitch,
                         bool clear, int64_t* symbols) {
    if (clear) clear_window(wanted, destination, pitch);
    LeafSink sink{destination, pitch, &dequantise};
    return decode_block_core(file, offset, tables, block, wanted, sink, symbols);
}

int decode_block(ByteStream* stream, int16_t* output, const CodeTable& table, const RegionRect& block,
                 const RegionRect& wanted) {
    BlockDecoderTables tables;
    if (build_block_decoder_tables(table, &tables) != 0) return 1;
    return decode_block_with_tables(stream, output, tables, block, wanted, nullptr);
}
