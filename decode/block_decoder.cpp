#include "decode/block_decoder.h"

#include <cstring>

#include "decode/dequantise.h"
#include "decode/entropy_decoder.h"
#include "decode/reference/reference_decoder.h"

namespace {

// Further bits after each symbol: 8 for 101, 102, 105; 16 for 103, 104, 106.
constexpr int extra_bits(int symbol) {
    return (symbol == 101 || symbol == 102 || symbol == 105)
               ? 8
               : ((symbol == 103 || symbol == 104 || symbol == 106) ? 16 : 0);
}

// A window onto the file's bytes from the block's data on, read in chunks; a few bytes before
// the current chunk stay available so that the stream can step back over a marker.
class ByteWindow {
public:
    explicit ByteWindow(FILE* stream) : stream_(stream) {}

    // The byte at index (counted from the window's start), or -1 beyond the end of the file.
    int at(int64_t index) {
        // Before the kept history (a step back past the block's start) reads as the end.
        if (index < base_) return -1;
        while (index >= base_ + length_) {
            if (end_of_file_ || !refill()) return -1;
        }
        return buffer_[index - base_];
    }

private:
    static constexpr int32_t kSize = 4096;
    static constexpr int32_t kHistory = 8;

    // Reads grow from a small first chunk (most blocks are short, and the next block usually
    // follows in the stream's own buffer) to the whole window.
    bool refill() {
        const int32_t keep = length_ < kHistory ? length_ : kHistory;
        std::memmove(buffer_, buffer_ + length_ - keep, static_cast<size_t>(keep));
        base_ += length_ - keep;
        length_ = keep;
        const int32_t want = chunk_ < kSize - length_ ? chunk_ : kSize - length_;
        chunk_ = chunk_ * 2 < kSize ? chunk_ * 2 : kSize;
        const size_t got = std::fread(buffer_ + length_, 1, static_cast<size_t>(want), stream_);
        if (got == 0) {
            end_of_file_ = true;
            return false;
        }
        length_ += static_cast<int32_t>(got);
        return true;
    }

    FILE* stream_;
    uint8_t buffer_[kSize];
    int64_t base_ = 0;
    int32_t length_ = 0;
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

// The bits of a block. Fast mode takes them from a 64-bit accumulator filled with data bytes
// (0xFF 0x00 standing for 0xFF) up to the first marker or the end of the file; slow mode,
// entered when a symbol needs bits that the accumulator cannot hold, takes one bit at a time
// and fetches each next byte with the stuffing rule of the path that took the last bit.
class BitSource {
public:
    BitSource(FILE* stream, uint8_t first) : bytes_(stream) {
        acc_ = uint64_t{first} << 56;
        bits_ = 8;
    }

    // The next symbol's meaning, with its further bits read; false when the block fails.
    __attribute__((always_inline)) bool next(const BlockDecoderTables& t, Meaning* m) {
        if (!slow_) {
            if (bits_ < 32) fill();
            if (bits_ >= 32) return next_fast(t, m);
        }
        return next_rare(t, m);
    }

private:
    // Bits near a marker or the end of the file: one at a time from here on.
    __attribute__((noinline)) bool next_rare(const BlockDecoderTables& t, Meaning* m) {
        if (!slow_) enter_slow_mode();
        int symbol = 0;
        uint32_t extra = 0;
        if (!next_slow(t, &symbol, &extra)) return false;
        *m = meaning(symbol, extra);
        return true;
    }

    void fill() {
        while (bits_ <= 56 && !blocked_) {
            const int c = bytes_.at(position_);
            if (c < 0) {
                blocked_ = true;
            } else if (c != 0xFF) {
                acc_ |= uint64_t(c) << (56 - bits_);
                bits_ += 8;
                position_ += 1;
            } else if (bytes_.at(position_ + 1) == 0) {
                acc_ |= uint64_t{0xFF} << (56 - bits_);
                bits_ += 8;
                position_ += 2;
            } else {
                blocked_ = true;  // a marker, or 0xFF at the end of the file
            }
        }
    }

    void consume(int n) {
        acc_ <<= n;
        bits_ -= n;
    }

    __attribute__((always_inline)) bool next_fast(const BlockDecoderTables& t, Meaning* m) {
        const BlockDecoderTables::Entry& e = t.lookup[acc_ >> 56];
        if (e.kind == BlockDecoderTables::kSymbol && e.extra == 0) {
            // A symbol of at most 8 bits with no further bits: its meaning is in the table.
            consume(e.length);
            last_path_ = Path::code;
            *m = Meaning{e.covered, e.is_value != 0, e.amount};
            return true;
        }
        unsigned node;
        if (e.kind == BlockDecoderTables::kSymbol) {
            consume(e.length);
            node = kLeafBase + e.value;
        } else if (e.kind == BlockDecoderTables::kEmpty) {
            return false;
        } else {
            consume(8);
            node = e.value;
            do {
                const unsigned bit = static_cast<unsigned>(acc_ >> 63);
                consume(1);
                node = t.tree.slots[bit][node];
            } while (node < kLeafBase);
            if (node >= kLeafBase + 256) return false;
        }
        const int symbol = static_cast<int>(node - kLeafBase);
        const int n = extra_bits(symbol);
        last_path_ = Path::code;
        uint32_t extra = 0;
        if (n > 0) {
            extra = static_cast<uint32_t>(acc_ >> (64 - n));
            consume(n);
            last_path_ = Path::magnitude;
        }
        *m = meaning(symbol, extra);
        return true;
    }

    // The accumulator's bits become the queue of the bit-at-a-time reader; if the last bit
    // taken emptied it, the byte after is fetched now, as that bit's path would have.
    void enter_slow_mode() {
        slow_ = true;
        if (bits_ == 0) fetch(last_path_);
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
        consume(1);
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
    uint64_t acc_ = 0;      // bits, most significant first
    int bits_ = 0;
    bool blocked_ = false;
    bool slow_ = false;
    bool past_end_ = false;
    Path last_path_ = Path::code;
};

inline int16_t low16(int64_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFFu));
}

}  // namespace

namespace {

BlockDecoderTables::Entry symbol_entry(int symbol, int length) {
    const Meaning m = meaning(symbol, 0);
    BlockDecoderTables::Entry e{static_cast<uint16_t>(symbol), static_cast<uint8_t>(length),
                                BlockDecoderTables::kSymbol};
    e.extra = static_cast<uint8_t>(extra_bits(symbol));
    e.is_value = m.is_value ? 1 : 0;
    e.covered = static_cast<int16_t>(m.covered);
    e.amount = static_cast<int16_t>(m.value);
    return e;
}

// Fills the look-up entries of every 8-bit value that starts with the depth bits of prefix,
// which lead from the root to node.
void fill_lookup(BlockDecoderTables* tables, unsigned node, int depth, unsigned prefix) {
    for (unsigned bit = 0; bit < 2; ++bit) {
        const unsigned slot = tables->tree.slots[bit][node];
        const int d = depth + 1;
        const unsigned p = (prefix << 1) | bit;
        const unsigned first = p << (8 - d), count = 1u << (8 - d);
        if (slot >= kLeafBase + 256) {
            for (unsigned v = first; v < first + count; ++v) {
                tables->lookup[v] = {0, static_cast<uint8_t>(d), BlockDecoderTables::kEmpty};
            }
        } else if (slot >= kLeafBase) {
            const BlockDecoderTables::Entry e = symbol_entry(static_cast<int>(slot - kLeafBase), d);
            for (unsigned v = first; v < first + count; ++v) tables->lookup[v] = e;
        } else if (d == 8) {
            tables->lookup[p] = {static_cast<uint16_t>(slot), 8, BlockDecoderTables::kNode};
        } else {
            fill_lookup(tables, slot, d, p);
        }
    }
}

}  // namespace

int build_block_decoder_tables(const CodeTable& table, BlockDecoderTables* tables) {
    if (build_code_tree(table, &tables->tree) != 0) return 1;
    fill_lookup(tables, 0, 0, 0);
    return 0;
}

namespace {

// The decoding of one block, storing through sink.store(row, column, value) every value that
// falls in the window (row and column relative to the window's corner).
template <typename Sink>
int decode_block_core(FILE* stream, const BlockDecoderTables& tables, const RegionRect& block,
                      const RegionRect& wanted, Sink& sink) {
    if (std::getc(stream) != 0xFF) return 1;
    if (std::getc(stream) != 0xA3) return 1;
    const int first = std::getc(stream);
    if (first == EOF) return 1;
    if (first == 0xFF) {
        const int next = std::getc(stream);
        if (next == EOF) return 1;
        if (next != 0) {
            // A marker: the block has no coefficients; leave the stream on its 0xFF.
            return std::fseek(stream, -2, SEEK_CUR) == 0 ? 0 : 1;
        }
    }
    BitSource bits(stream, static_cast<uint8_t>(first));

    const int64_t block_width = int64_t{block.x1} - block.x0 + 1;
    const int64_t wanted_width = int64_t{wanted.x1} - wanted.x0 + 1;
    const int64_t wanted_height = int64_t{wanted.y1} - wanted.y0 + 1;
    const int64_t end = wanted_width * wanted_height;
    if (end <= 0) return 0;
    // pos: the next coefficient of the block (raster order); first_wanted: the first wanted
    // position of window row `row`; o: the output index, row x IW + column.
    int64_t pos = 0;
    int64_t o = 0;
    int64_t row = 0;
    int64_t first_wanted = (int64_t{wanted.y0} - block.y0) * block_width + (wanted.x0 - block.x0);
    Meaning m{};
    for (;;) {
        // Skip the coefficients before the window row without storing them.
        while (pos < first_wanted) {
            if (!bits.next(tables, &m)) return 1;
            pos += m.covered;
        }
        // A run may have carried pos beyond the window's row: move the window down.
        while (first_wanted + wanted_width < pos) {
            first_wanted += block_width;
            o += wanted_width;
            ++row;
        }
        if (pos >= first_wanted) {
            o += pos - first_wanted;
            if (o >= end) return 0;
            const int64_t row_end = first_wanted + wanted_width;
            while (pos < row_end) {
                if (!bits.next(tables, &m)) return 1;
                if (m.is_value) {
                    sink.store(row, pos - first_wanted, low16(m.value));
                    ++o;
                    ++pos;
                } else if (m.covered > 0) {
                    const int64_t room = row_end - pos;
                    o += m.covered < room ? m.covered : room;
                    pos += m.covered;
                }
            }
            first_wanted += block_width;
            ++row;
            while (first_wanted + wanted_width < pos) {
                first_wanted += block_width;
                o += wanted_width;
                ++row;
            }
        }
        if (o >= end) return 0;
    }
}

struct QuantisedSink {
    int16_t* output;
    int64_t width;
    void store(int64_t row, int64_t column, int16_t value) { output[row * width + column] = value; }
};

struct LeafSink {
    float* destination;
    int64_t pitch;
    const DequantiseTable* table;
    void store(int64_t row, int64_t column, int16_t value) {
        destination[row * pitch + column] = dequantise_one(value, *table);
    }
};

}  // namespace

int decode_block_with_tables(FILE* stream, int16_t* output, const BlockDecoderTables& tables,
                             const RegionRect& block, const RegionRect& wanted) {
    QuantisedSink sink{output, int64_t{wanted.x1} - wanted.x0 + 1};
    return decode_block_core(stream, tables, block, wanted, sink);
}

int decode_block_into(FILE* stream, const BlockDecoderTables& tables, const RegionRect& block,
                      const RegionRect& wanted, const DequantiseTable& dequantise,
                      float* destination, int64_t pitch, bool clear) {
    // Zeros are not coded one by one: the window must start at 0.0, and only the coded values
    // are stored.
    if (clear) {
        const int64_t width = int64_t{wanted.x1} - wanted.x0 + 1;
        const int64_t height = int64_t{wanted.y1} - wanted.y0 + 1;
        for (int64_t r = 0; r < height; ++r) {
            std::memset(destination + r * pitch, 0, static_cast<size_t>(width) * sizeof(float));
        }
    }
    LeafSink sink{destination, pitch, &dequantise};
    return decode_block_core(stream, tables, block, wanted, sink);
}

int decode_block(FILE* stream, int16_t* output, const CodeTable& table, const RegionRect& block,
                 const RegionRect& wanted) {
    if (reference_decoder_in_use()) {
        return decode_block_reference(stream, output, table, block, wanted);
    }
    BlockDecoderTables tables;
    if (build_block_decoder_tables(table, &tables) != 0) return 1;
    return decode_block_with_tables(stream, output, tables, block, wanted);
}
