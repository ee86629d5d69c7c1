#include "tools/common/literal_deflate.h"

#include <algorithm>
#include <cstring>
#include <queue>

namespace kavel_output {

namespace {

constexpr std::size_t kBlockBytes = std::size_t{1} << 18;  // literals per block
constexpr int kLiterals = 257;                              // bytes and the end of block
constexpr int kEndOfBlock = 256;

// Bits written least significant first, as deflate packs them. The buffer holds fewer
// than 8 bits between calls to flush; up to 56 bits may be added before the next flush.
class BitWriter {
public:
    explicit BitWriter(uint8_t* out) : start_(out), at_(out) {}
    void add(uint32_t bits, int count) {
        buffer_ |= uint64_t(bits) << filled_;
        filled_ += count;
    }
    // Moves the whole bytes of the buffer out (eight bytes stored, some of them again later).
    void flush() {
        uint8_t bytes[8];
        for (int i = 0; i < 8; ++i) bytes[i] = uint8_t(buffer_ >> (8 * i));
        std::memcpy(at_, bytes, 8);
        at_ += filled_ >> 3;
        buffer_ = filled_ >= 64 ? 0 : buffer_ >> (filled_ & ~7);
        filled_ &= 7;
    }
    void put(uint32_t bits, int count) {
        add(bits, count);
        flush();
    }
    // Pads to a byte boundary with zero bits.
    void align() {
        if (filled_ > 0) {
            *at_++ = uint8_t(buffer_);
            buffer_ = 0;
            filled_ = 0;
        }
    }
    void byte(uint8_t value) { *at_++ = value; }  // when aligned
    void bytes(const uint8_t* data, std::size_t count) {
        std::memcpy(at_, data, count);
        at_ += count;
    }
    std::size_t written() const { return std::size_t(at_ - start_); }

private:
    uint8_t* start_;
    uint8_t* at_;
    uint64_t buffer_ = 0;
    int filled_ = 0;
};

// Canonical codes for the lengths, bit-reversed for writing least significant bit first.
void canonical_codes(const uint8_t* lengths, int symbols, uint32_t* codes) {
    int count[16] = {};
    for (int s = 0; s < symbols; ++s) ++count[lengths[s]];
    count[0] = 0;
    uint32_t next[16] = {};
    uint32_t code = 0;
    for (int bits = 1; bits < 16; ++bits) {
        code = (code + uint32_t(count[bits - 1])) << 1;
        next[bits] = code;
    }
    for (int s = 0; s < symbols; ++s) {
        const int length = lengths[s];
        if (length == 0) continue;
        uint32_t value = next[length]++;
        uint32_t reversed = 0;
        for (int b = 0; b < length; ++b) {
            reversed = (reversed << 1) | (value & 1);
            value >>= 1;
        }
        codes[s] = reversed;
    }
}

void stored_blocks(const uint8_t* data, std::size_t size, bool final, BitWriter* out) {
    // The writer is on a byte boundary before and after every stored block.
    std::size_t done = 0;
    do {
        const std::size_t take = std::min<std::size_t>(size - done, 65535);
        const bool last = final && done + take == size;
        out->byte(last ? 1 : 0);
        const uint8_t lengths[4] = {uint8_t(take), uint8_t(take >> 8), uint8_t(~take),
                                    uint8_t(~take >> 8)};
        out->bytes(lengths, 4);
        out->bytes(data + done, take);
        done += take;
    } while (done < size);
}

void literal_block(const uint8_t* data, std::size_t size, bool last, BitWriter* out) {
    // Four tables, so that repeated bytes do not wait on one another's counts.
    uint32_t partial[4][256] = {};
    std::size_t i = 0;
    for (; i + 4 <= size; i += 4) {
        ++partial[0][data[i]];
        ++partial[1][data[i + 1]];
        ++partial[2][data[i + 2]];
        ++partial[3][data[i + 3]];
    }
    for (; i < size; ++i) ++partial[0][data[i]];
    uint32_t counts[kLiterals] = {};
    for (int v = 0; v < 256; ++v) counts[v] = partial[0][v] + partial[1][v] + partial[2][v] + partial[3][v];
    counts[kEndOfBlock] = 1;
    uint8_t lengths[kLiterals + 2] = {};
    huffman_code_lengths(counts, kLiterals, 15, lengths);
    // Two distance codes of one bit: a complete code that no symbol uses.
    lengths[kLiterals] = lengths[kLiterals + 1] = 1;
    uint32_t codes[kLiterals] = {};
    canonical_codes(lengths, kLiterals, codes);

    // The code lengths are sent with a code of their own (symbols 0..15, no repeats).
    uint32_t length_counts[19] = {};
    for (const uint8_t length : lengths) ++length_counts[length];
    uint8_t length_lengths[19] = {};
    huffman_code_lengths(length_counts, 19, 7, length_lengths);
    uint32_t length_codes[19] = {};
    canonical_codes(length_lengths, 19, length_codes);
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int sent = 19;
    while (sent > 4 && length_lengths[order[sent - 1]] == 0) --sent;

    out->put(last ? 1 : 0, 1);
    out->put(2, 2);  // a block with its own codes
    out->put(kLiterals - 257, 5);
    out->put(2 - 1, 5);
    out->put(uint32_t(sent - 4), 4);
    for (int k = 0; k < sent; ++k) out->put(length_lengths[order[k]], 3);
    for (const uint8_t length : lengths) out->put(length_codes[length], length_lengths[length]);
    // Three codes of at most 15 bits between flushes.
    std::size_t n = 0;
    for (; n + 3 <= size; n += 3) {
        out->add(codes[data[n]], lengths[data[n]]);
        out->add(codes[data[n + 1]], lengths[data[n + 1]]);
        out->add(codes[data[n + 2]], lengths[data[n + 2]]);
        out->flush();
    }
    for (; n < size; ++n) out->put(codes[data[n]], lengths[data[n]]);
    out->put(codes[kEndOfBlock], lengths[kEndOfBlock]);
}

}  // namespace

void huffman_code_lengths(const uint32_t* counts, int symbols, int max_bits, uint8_t* lengths) {
    std::vector<uint32_t> weights(counts, counts + symbols);
    int used = 0;
    for (int s = 0; s < symbols; ++s) used += weights[std::size_t(s)] != 0;
    // A code needs two symbols: lend a count to the first unused ones.
    for (int s = 0; s < symbols && used < 2; ++s) {
        if (weights[std::size_t(s)] == 0) {
            weights[std::size_t(s)] = 1;
            ++used;
        }
    }
    for (;;) {
        // Huffman's construction; node i < symbols is a leaf.
        std::vector<int> parent(std::size_t(2 * symbols), -1);
        using Entry = std::pair<uint64_t, int>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
        for (int s = 0; s < symbols; ++s) {
            if (weights[std::size_t(s)] != 0) queue.push({weights[std::size_t(s)], s});
        }
        int next = symbols;
        while (queue.size() > 1) {
            const Entry a = queue.top();
            queue.pop();
            const Entry b = queue.top();
            queue.pop();
            parent[std::size_t(a.second)] = parent[std::size_t(b.second)] = next;
            queue.push({a.first + b.first, next++});
        }
        int longest = 0;
        for (int s = 0; s < symbols; ++s) {
            int depth = 0;
            if (weights[std::size_t(s)] != 0) {
                for (int node = s; parent[std::size_t(node)] >= 0; node = parent[std::size_t(node)]) ++depth;
            }
            lengths[s] = uint8_t(depth);
            longest = std::max(longest, depth);
        }
        if (longest <= max_bits) return;
        // Too deep: flatten the counts and build again.
        for (uint32_t& weight : weights) {
            if (weight != 0) weight = (weight >> 1) | 1;
        }
    }
}

std::size_t deflate_literals_bound(std::size_t size) {
    // 15 bits a literal and a header per block, or 5 bytes per stored block; 8 bytes of
    // slack for the writer's whole-word stores.
    return size * 2 + (size / kBlockBytes + 1) * 400 + (size / 65535 + 1) * 5 + 32;
}

std::size_t deflate_literals(const uint8_t* data, std::size_t size, bool final, bool stored,
                             uint8_t* out) {
    BitWriter writer(out);
    if (stored) {
        stored_blocks(data, size, final, &writer);
        return writer.written();
    }
    std::size_t done = 0;
    do {
        const std::size_t take = std::min(size - done, kBlockBytes);
        literal_block(data + done, take, final && done + take == size, &writer);
        done += take;
    } while (done < size);
    if (!final) {
        // An empty stored block brings the stream to a byte boundary.
        writer.put(0, 3);
        writer.align();
        const uint8_t empty[4] = {0, 0, 0xFF, 0xFF};
        writer.bytes(empty, 4);
    }
    writer.align();
    return writer.written();
}

}  // namespace kavel_output
