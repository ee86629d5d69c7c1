// How the fuzz harnesses cut their input into parameters and data, shared by the harnesses
// (parse) and the seed generator (make).
//
// fuzz_region:  8 parameter bytes, then the whole Kavel file
//   +0 scale byte (taken modulo 34, minus 1: -1..32, so that absent scales are tried too)
//   +1 flags: bit 0 decode through kavel::Image instead of the plain routines;
//             bits 1-2 extra stride bytes beyond a row (0..3);
//             bit 3 the window is the whole image at the scale (cut to 256 x 256)
//             bits 4-5 where x0, y0 count from: 0 the origin; 1 the image's bottom-right
//             corner at the scale (edge windows of huge images); 2 the largest coordinate
//             (x0 = 2^31 - 256 + (x0 mod 256)); 3 the smallest (x0 = -2^31 + (x0 mod 256))
//   +2 x0 (signed 16-bit big-endian), +4 y0 (signed 16-bit big-endian)
//   +6 columns - 1, +7 rows - 1 (1..256 each)
//
// fuzz_block:  code table, block rectangle, window, then the block's bytes (from FF A3 on)
//   +0  16 code-length counts c[1..16]
//   +16 min(c[1] + ... + c[16], 256) symbol bytes
//   then x0 and y0 of the block (signed 32-bit big-endian each), block width - 1 and block
//   height - 1 (1..256 each), then the window within the block: column, row, columns - 1,
//   rows - 1 (each byte taken modulo what still fits), then the step of the dequantising
//   decode (IEEE single, big-endian) and the extra floats of its row pitch (0..255)
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavel_fuzz {

// Reads fixed-size fields from the front of the input; a field past the end reads as zeros.
class InputCursor {
  public:
    InputCursor(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
    int32_t be16_signed() {
        const uint32_t high = byte();
        const uint32_t low = byte();
        return static_cast<int16_t>(static_cast<uint16_t>((high << 8) | low));
    }
    int32_t be32_signed() {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) value = (value << 8) | byte();
        return static_cast<int32_t>(value);
    }
    const uint8_t* rest() const { return data_ + (position_ < size_ ? position_ : size_); }
    std::size_t rest_size() const { return position_ < size_ ? size_ - position_ : 0; }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

inline void put_be16(std::vector<uint8_t>* out, int32_t value) {
    out->push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
    out->push_back(static_cast<uint8_t>(value & 0xFF));
}

inline void put_be32(std::vector<uint8_t>* out, int32_t value) {
    const auto v = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

// --- fuzz_region ----------------------------------------------------------------------------

constexpr std::size_t kRegionPrefixSize = 8;
constexpr int32_t kMaxWindowSide = 256;

struct RegionParameters {
    int32_t scale = 0;
    bool use_image_api = false;
    int32_t stride_padding = 0;
    bool whole_image = false;
    int32_t anchor = 0;  // 0 origin, 1 bottom-right corner, 2 largest, 3 smallest coordinate
    int32_t x0 = 0, y0 = 0;
    int32_t columns = 1, rows = 1;
};

inline RegionParameters parse_region_parameters(InputCursor* in) {
    RegionParameters p;
    p.scale = in->byte() % 34 - 1;
    const uint8_t flags = in->byte();
    p.use_image_api = (flags & 1) != 0;
    p.stride_padding = (flags >> 1) & 3;
    p.whole_image = (flags & 8) != 0;
    p.anchor = (flags >> 4) & 3;
    p.x0 = in->be16_signed();
    p.y0 = in->be16_signed();
    p.columns = in->byte() + 1;
    p.rows = in->byte() + 1;
    return p;
}

inline std::vector<uint8_t> make_region_input(const RegionParameters& p,
                                              const std::vector<uint8_t>& file) {
    std::vector<uint8_t> out;
    out.push_back(static_cast<uint8_t>(p.scale + 1));
    out.push_back(static_cast<uint8_t>((p.use_image_api ? 1 : 0) | (p.stride_padding << 1) |
                                       (p.whole_image ? 8 : 0) | (p.anchor << 4)));
    put_be16(&out, p.x0);
    put_be16(&out, p.y0);
    out.push_back(static_cast<uint8_t>(p.columns - 1));
    out.push_back(static_cast<uint8_t>(p.rows - 1));
    out.insert(out.end(), file.begin(), file.end());
    return out;
}

// --- fuzz_block -----------------------------------------------------------------------------

constexpr int32_t kMaxBlockSide = 256;

struct BlockParameters {
    uint8_t counts[16] = {};
    uint8_t symbols[256] = {};
    int32_t symbol_count = 0;  // symbols read from the input (at most 256)
    int32_t x0 = 0, y0 = 0;    // block corner
    int32_t width = 1, height = 1;
    int32_t window_column = 0, window_row = 0;  // relative to the block's corner
    int32_t window_columns = 1, window_rows = 1;
    uint32_t step_bits = 0x3F800000;  // 1.0
    int32_t pitch_extra = 0;
};

inline BlockParameters parse_block_parameters(InputCursor* in) {
    BlockParameters p;
    int32_t total = 0;
    for (uint8_t& count : p.counts) {
        count = in->byte();
        total += count;
    }
    p.symbol_count = total < 256 ? total : 256;
    for (int32_t i = 0; i < p.symbol_count; ++i) p.symbols[i] = in->byte();
    p.x0 = in->be32_signed();
    p.y0 = in->be32_signed();
    p.width = in->byte() + 1;
    p.height = in->byte() + 1;
    // The block's last column and row must be representable, as the driver guarantees.
    if (p.x0 > INT32_MAX - (p.width - 1)) p.x0 = INT32_MAX - (p.width - 1);
    if (p.y0 > INT32_MAX - (p.height - 1)) p.y0 = INT32_MAX - (p.height - 1);
    p.window_column = in->byte() % p.width;
    p.window_row = in->byte() % p.height;
    p.window_columns = in->byte() % (p.width - p.window_column) + 1;
    p.window_rows = in->byte() % (p.height - p.window_row) + 1;
    p.step_bits = static_cast<uint32_t>(in->be32_signed());
    p.pitch_extra = in->byte();
    return p;
}

inline std::vector<uint8_t> make_block_input(const BlockParameters& p,
                                             const std::vector<uint8_t>& block) {
    std::vector<uint8_t> out(p.counts, p.counts + 16);
    out.insert(out.end(), p.symbols, p.symbols + p.symbol_count);
    put_be32(&out, p.x0);
    put_be32(&out, p.y0);
    out.push_back(static_cast<uint8_t>(p.width - 1));
    out.push_back(static_cast<uint8_t>(p.height - 1));
    out.push_back(static_cast<uint8_t>(p.window_column));
    out.push_back(static_cast<uint8_t>(p.window_row));
    out.push_back(static_cast<uint8_t>(p.window_columns - 1));
    out.push_back(static_cast<uint8_t>(p.window_rows - 1));
    put_be32(&out, static_cast<int32_t>(p.step_bits));
    out.push_back(static_cast<uint8_t>(p.pitch_extra));
    out.insert(out.end(), block.begin(), block.end());
    return out;
}

}  // namespace kavel_fuzz
