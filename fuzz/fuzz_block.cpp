// Fuzzes the entropy decoding of one block: decode_block (the fast decoder) and
// decode_block_reference (the straightforward one) on arbitrary block bytes with an arbitrary
// code table, block rectangle and window (see fuzz_inputs.h for the layout of the input).
//
// The same block is also decoded straight into dequantised floats (decode_block_into, the path
// region decodes take), into a window of a larger array with a row pitch from the input.
//
// Checks: nothing is written outside the window's IW x IH output (the output is a heap block of
// exactly that size, so AddressSanitizer sees any stray write); both decoders give the same
// verdict and, on success, the same values; the dequantising decode gives the same verdict,
// writes only the window's cells and stores there the dequantised values; a successful decode
// leaves the pool empty.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "decode/block_decoder.h"
#include "decode/dequantise.h"
#include "decode/entropy_decoder.h"
#include "decode/reference/reference_decoder.h"
#include "format/pool.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_inputs.h"

namespace {

FILE* open_block(const uint8_t* bytes, std::size_t size);

// Decodes the block bytes with one of the decoders into a fresh zero-filled output.
int decode_with(bool reference, const kavel_fuzz::BlockParameters& p, const uint8_t* bytes,
                std::size_t size, std::vector<int16_t>* output) {
    FILE* stream = open_block(bytes, size);
    uint8_t counts[16];
    uint8_t symbols[256];
    std::memcpy(counts, p.counts, sizeof counts);
    std::memcpy(symbols, p.symbols, sizeof symbols);
    const CodeTable table{counts, symbols};
    const RegionRect block{p.x0, p.x0 + (p.width - 1), p.y0, p.y0 + (p.height - 1)};
    const RegionRect wanted{block.x0 + p.window_column,
                            block.x0 + p.window_column + (p.window_columns - 1),
                            block.y0 + p.window_row, block.y0 + p.window_row + (p.window_rows - 1)};
    const std::size_t count = static_cast<std::size_t>(p.window_columns) * p.window_rows;
    // Exactly the window's values on the heap, so that a stray write is caught.
    auto* values = new int16_t[count]();
    const int result = reference ? decode_block_reference(stream, values, table, block, wanted)
                                 : decode_block(stream, values, table, block, wanted);
    output->assign(values, values + count);
    delete[] values;
    std::fclose(stream);
    if (result == 0) {
        FUZZ_CHECK(pool_block_count() == 0);
    } else {
        pool_free_all();  // a failed decode leaves its memory to the caller's release
    }
    return result;
}

FILE* open_block(const uint8_t* bytes, std::size_t size) {
    static const uint8_t empty[1] = {0};
    // An empty block is a stream with nothing in it: one byte of buffer, none readable.
    FILE* stream = size > 0 ? fmemopen(const_cast<uint8_t*>(bytes), size, "rb")
                            : fmemopen(const_cast<uint8_t*>(empty), 1, "rb");
    FUZZ_CHECK(stream != nullptr);
    if (size == 0) std::fgetc(stream);  // stand at the end
    return stream;
}

bool same_float(float a, float b) { return a == b || (a != a && b != b); }

// Decodes the block with decode_block_into into a window of a larger array (pitch floats per
// row, a sentinel everywhere); checks the verdict against decode_block's and, on success, that
// the window holds the dequantised values and nothing else changed.
void check_dequantising_decode(const kavel_fuzz::BlockParameters& p, const uint8_t* bytes,
                               std::size_t size, int verdict, const std::vector<int16_t>& values) {
    uint8_t counts[16];
    uint8_t symbols[256];
    std::memcpy(counts, p.counts, sizeof counts);
    std::memcpy(symbols, p.symbols, sizeof symbols);
    const CodeTable table{counts, symbols};
    BlockDecoderTables tables;
    if (build_block_decoder_tables(table, &tables) != 0) {
        FUZZ_CHECK(verdict != 0);  // decode_block refuses the same table
        return;
    }
    float step;
    std::memcpy(&step, &p.step_bits, sizeof step);
    DequantiseTable dequantise;
    make_dequantise_table(step, &dequantise);

    constexpr float kSentinel = -12345.5f;
    const int64_t pitch = int64_t{p.window_columns} + p.pitch_extra;
    const auto cells = static_cast<std::size_t>(pitch * p.window_rows);
    std::vector<float> area(cells, kSentinel);
    const RegionRect block{p.x0, p.x0 + (p.width - 1), p.y0, p.y0 + (p.height - 1)};
    const RegionRect wanted{block.x0 + p.window_column,
                            block.x0 + p.window_column + (p.window_columns - 1),
                            block.y0 + p.window_row, block.y0 + p.window_row + (p.window_rows - 1)};
    FILE* stream = open_block(bytes, size);
    // The last row's pitch is not needed: an array that ends with the window's last cell.
    auto* heap = new float[cells - static_cast<std::size_t>(p.pitch_extra)];
    std::copy(area.begin(), area.end() - p.pitch_extra, heap);
    const int result =
        decode_block_into(stream, tables, block, wanted, dequantise, heap, pitch, true);
    std::copy(heap, heap + (cells - static_cast<std::size_t>(p.pitch_extra)), area.begin());
    delete[] heap;
    std::fclose(stream);
    FUZZ_CHECK(result == verdict);
    if (result != 0) return;
    for (int64_t r = 0; r < p.window_rows; ++r) {
        for (int64_t c = 0; c < pitch; ++c) {
            const float got = area[static_cast<std::size_t>(r * pitch + c)];
            if (c >= p.window_columns) {
                FUZZ_CHECK(got == kSentinel);
                continue;
            }
            const int16_t q = values[static_cast<std::size_t>(r * p.window_columns + c)];
            FUZZ_CHECK(same_float(got, q == 0 ? 0.0f : dequantise_one(q, dequantise)));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    kavel_fuzz::InputCursor in(data, size);
    const kavel_fuzz::BlockParameters p = kavel_fuzz::parse_block_parameters(&in);
    std::vector<int16_t> fast, reference;
    const int fast_result = decode_with(false, p, in.rest(), in.rest_size(), &fast);
    const int reference_result = decode_with(true, p, in.rest(), in.rest_size(), &reference);
    FUZZ_CHECK(fast_result == reference_result);
    if (fast_result == 0) FUZZ_CHECK(fast == reference);
    check_dequantising_decode(p, in.rest(), in.rest_size(), fast_result, fast);
    FUZZ_CHECK(pool_block_count() == 0);
    return 0;
}
