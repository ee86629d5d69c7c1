#include "decode/code_tree.h"
#include "tests/support/reference/reference_decoder.h"

namespace {

// Reads bits most significant first from the block data, with the two stuffing rules.
// The end of the file reads as 0xFF; once a read has gone past the end, the next bit taken
// fails the block, so that a truncated block always fails and the decoder always ends.
class BitReader {
  public:
    explicit BitReader(ByteStream* stream) : stream_(stream) {}

    enum class Path { code, magnitude };

    // The first data byte. Returns 0 to go on, 1 to fail, 2 when the block is empty (the data
    // starts with a marker; the stream has moved back onto it).
    int start(int* status_on_marker) {
        int c = stream_->get();
        if (c == ByteStream::kEnd) return 1;
        if (c == 0xFF) {
            const int next = stream_->get();
            if (next == ByteStream::kEnd) return 1;
            if (next != 0) {
                *status_on_marker = stream_->seek(stream_->tell() - 2) ? 0 : 1;
                return 2;
            }
        }
        current_ = static_cast<uint8_t>(c);
        position_ = 0;
        return 0;
    }

    // Takes one bit; false when the stream has run past its end.
    bool bit(Path path, int* value) {
        if (past_end_) return false;
        *value = (current_ >> (7 - position_)) & 1;
        if (++position_ == 8) {
            fetch(path);
            position_ = 0;
        }
        return true;
    }

    // An unsigned number of count bits, most significant first, on the magnitude path.
    bool number(int count, uint32_t* value) {
        uint32_t result = 0;
        for (int i = 0; i < count; ++i) {
            int b = 0;
            if (!bit(Path::magnitude, &b)) return false;
            result = (result << 1) | static_cast<uint32_t>(b);
        }
        *value = result;
        return true;
    }

  private:
    int read_byte() {
        const int c = stream_->get();
        if (c == ByteStream::kEnd) {
            past_end_ = true;
            return 0xFF;
        }
        return c;
    }

    void fetch(Path path) {
        current_ = static_cast<uint8_t>(read_byte());
        if (current_ != 0xFF) return;
        const int next = read_byte();
        if (path == Path::magnitude && next != 0) {
            // A marker: step back so that its 0xFF is read again as the next byte.
            stream_->seek(stream_->tell() - 2);
        }
    }

    ByteStream* stream_;
    uint8_t current_ = 0;
    int position_ = 0;
    bool past_end_ = false;
};

// Decodes one symbol with the tree; false on an empty slot or the end of the stream.
bool decode_symbol(BitReader& reader, const CodeTree& tree, int* symbol) {
    unsigned node = 0;
    do {
        int b = 0;
        if (!reader.bit(BitReader::Path::code, &b)) return false;
        node = tree.slots[b][node];
    } while (node < kLeafBase);
    if (node >= kLeafBase + 256) return false;
    *symbol = static_cast<int>(node - kLeafBase);
    return true;
}

struct Symbol {
    enum class Kind { nothing, run, value } kind;
    int64_t amount;  // run length, or the value
};

// Reads the further bits of a decoded symbol and tells what it stands for.
bool interpret(BitReader& reader, int symbol, Symbol* out) {
    uint32_t m = 0;
    if (symbol == 0) {
        *out = {Symbol::Kind::nothing, 0};
    } else if (symbol <= 100) {
        *out = {Symbol::Kind::run, symbol};
    } else if (symbol <= 104) {
        if (!reader.number(symbol <= 102 ? 8 : 16, &m)) return false;
        const bool negative = symbol == 102 || symbol == 104;
        *out = {Symbol::Kind::value, negative ? -int64_t{m} : int64_t{m}};
    } else if (symbol <= 106) {
        if (!reader.number(symbol == 105 ? 8 : 16, &m)) return false;
        *out = {Symbol::Kind::run, int64_t{m}};
    } else {
        *out = {Symbol::Kind::value, symbol - 180};
    }
    return true;
}

int64_t coefficients_covered(const Symbol& s) {
    return s.kind == Symbol::Kind::value ? 1 : (s.kind == Symbol::Kind::run ? s.amount : 0);
}

// The low 16 bits of the value in two's complement.
int16_t low16(int64_t value) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(value) & 0xFFFFu));
}

// Adds the symbols counted to *total when the block's decoding ends, however it ends.
struct SymbolCount {
    int64_t count = 0;
    int64_t* total;
    explicit SymbolCount(int64_t* to) : total(to) {}
    SymbolCount(const SymbolCount&) = delete;
    SymbolCount& operator=(const SymbolCount&) = delete;
    ~SymbolCount() {
        if (total != nullptr) *total += count;
    }
};

}  // namespace

int decode_block_reference(ByteStream* stream, int16_t* output, const CodeTable& table,
                           const RegionRect& block, const RegionRect& wanted, int64_t* symbols) {
    SymbolCount taken(symbols);
    CodeTree tree;
    if (build_code_tree(table, &tree) != 0) return 1;
    if (stream->get() != 0xFF) return 1;
    if (stream->get() != 0xA3) return 1;
    BitReader reader(stream);
    int marker_status = 0;
    const int started = reader.start(&marker_status);
    if (started == 1) return 1;
    if (started == 2) return marker_status;

    const int64_t block_width = int64_t{block.x1} - block.x0 + 1;
    const int64_t wanted_width = int64_t{wanted.x1} - wanted.x0 + 1;
    const int64_t wanted_height = int64_t{wanted.y1} - wanted.y0 + 1;
    const int64_t end = wanted_width * wanted_height;
    int64_t pos = 0;
    int64_t o = 0;
    int64_t first = (int64_t{wanted.y0} - block.y0) * block_width + (wanted.x0 - block.x0);
    if (end <= 0) return 0;

    Symbol s{};
    int symbol = 0;
    for (;;) {
        // Skip the coefficients before the window row without storing them.
        while (pos < first) {
            ++taken.count;
            if (!decode_symbol(reader, tree, &symbol) || !interpret(reader, symbol, &s)) return 1;
            pos += coefficients_covered(s);
        }
        // A run may have carried pos beyond the window's row: move the window down.
        while (first + wanted_width < pos) {
            first += block_width;
            o += wanted_width;
        }
        // The window may have moved beyond pos: then the next pass skips up to it.
        if (pos >= first) {
            o += pos - first;
            if (o >= end) return 0;
            while (pos < first + wanted_width) {
                ++taken.count;
                if (!decode_symbol(reader, tree, &symbol) || !interpret(reader, symbol, &s)) {
                    return 1;
                }
                if (s.kind == Symbol::Kind::value) {
                    output[o++] = low16(s.amount);
                    ++pos;
                } else if (s.kind == Symbol::Kind::run && s.amount > 0) {
                    const int64_t room = first + wanted_width - pos;
                    o += s.amount < room ? s.amount : room;
                    pos += s.amount;
                }
            }
            first += block_width;
            while (first + wanted_width < pos) {
                first += block_width;
                o += wanted_width;
            }
        }
        if (o >= end) return 0;
    }
}
