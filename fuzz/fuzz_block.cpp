// Fuzzes the entropy decoding of one block: decode_block (the fast decoder) and
// decode_block_reference (the straightforward one) on arbitrary block bytes with an arbitrary
// code table, block rectangle and window (see fuzz_inputs.h for the layout of the input).
//
// The same block is also decoded straight into dequantised floats (decode_block_into, the path
// region decodes take), into a window of a larger array with a row pitch from the input, and
// then again with decode_block_into_at through a FileWindow on a temporary file holding the same
// bytes: once at the file's start, once after filler with the window's buffer ending 1 to 32
// bytes after the block's start (so that the block's first bytes, or its data, cross it).
//
// Checks: nothing is written outside the window's IW x IH output (the output is a heap block of
// exactly that size, so AddressSanitizer sees any stray write); both decoders give the same
// verdict and, on success, the same values; the dequantising decode gives the same verdict,
// writes only the window's cells and stores there the dequantised values; the decodes through
// the FileWindow give its verdict and symbol count and leave bitwise the same array, whether
// the block succeeds or fails; a successful decode leaves the pool empty.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "decode/block_decoder.h"
#include "decode/dequantise.h"
#include "decode/entropy_decoder.h"
#include "decode/file_window.h"
#include "tests/support/reference/reference_decoder.h"
#include "format/pool.h"
#include "fuzz/fuzz_check.h"
#include "fuzz/fuzz_inputs.h"

namespace {

// The block's bytes in memory and a stream on them, standing at their start.
struct OpenBlock {
    OpenBlock(const uint8_t* bytes, std::size_t size)
        : source(make_memory_source(bytes, size)), stream(*source) {}
    std::unique_ptr<ByteSource> source;
    ByteStream stream;
};

// Decodes the block bytes with one of the decoders into a fresh zero-filled output.
int decode_with(bool reference, const kavel_fuzz::BlockParameters& p, const uint8_t* bytes,
                std::size_t size, std::vector<int16_t>* output) {
    OpenBlock block_bytes(bytes, size);
    ByteStream* stream = &block_bytes.stream;
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
    if (result == 0) {
        FUZZ_CHECK(pool_block_count() == 0);
    } else {
        pool_free_all();  // a failed decode leaves its memory to the caller's release
    }
    return result;
}

bool same_float(float a, float b) { return a == b || (a != a && b != b); }

// A block placed after filler starts 1 to 32 bytes before FileWindow::kSize; the filler before
// kFixedFiller is written once, the rest with each block.
constexpr std::size_t kFixedFiller = FileWindow::kSize - 32;
constexpr uint8_t kFiller = 0xFF;

// A temporary file for the decodes through a FileWindow, reused by every run, that starts with
// `filler` bytes of filler. Its bytes are written to the descriptor, which a FileWindow reads.
FILE* make_scratch_file(std::size_t filler) {
    FILE* file = std::tmpfile();
    FUZZ_CHECK(file != nullptr);
    const std::vector<uint8_t> bytes(filler, kFiller);
    FUZZ_CHECK(pwrite(fileno(file), bytes.data(), filler, 0) == static_cast<ssize_t>(filler));
    return file;
}

// Makes file hold the block's bytes at offset, filler from `from` up to them, and nothing after
// them (the bytes before `from` are the file's own).
void place_block(FILE* file, std::size_t from, std::size_t offset, const uint8_t* bytes,
                 std::size_t size) {
    static std::vector<uint8_t> contents;
    contents.assign(offset - from, kFiller);
    contents.insert(contents.end(), bytes, bytes + size);
    const int descriptor = fileno(file);
    FUZZ_CHECK(pwrite(descriptor, contents.data(), contents.size(), static_cast<off_t>(from)) ==
               static_cast<ssize_t>(contents.size()));
    FUZZ_CHECK(ftruncate(descriptor, static_cast<off_t>(offset + size)) == 0);
}

// Runs decode on a heap copy of the first used cells of area (so that AddressSanitizer sees a
// write beyond the window's last cell) and copies them back.
template <typename Decode>
int decode_on_heap(std::vector<float>* area, std::size_t used, Decode decode) {
    auto* heap = new float[used];
    std::copy(area->begin(), area->begin() + static_cast<std::ptrdiff_t>(used), heap);
    const int result = decode(heap);
    std::copy(heap, heap + used, area->begin());
    delete[] heap;
    return result;
}

// Decodes the block with decode_block_into into a window of a larger array (pitch floats per
// row, a sentinel everywhere); checks the verdict against decode_block's and, on success, that
// the window holds the dequantised values and nothing else changed. The decodes through a
// FileWindow must give the same verdict, symbol count and array.
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
    // The last row's pitch is not needed: an array that ends with the window's last cell.
    const std::size_t used = cells - static_cast<std::size_t>(p.pitch_extra);
    const std::vector<float> fresh = area;
    OpenBlock block_bytes(bytes, size);
    ByteStream* stream = &block_bytes.stream;
    int64_t taken = 0;
    const int result = decode_on_heap(&area, used, [&](float* out) {
        return decode_block_into(stream, tables, block, wanted, dequantise, out, pitch, true,
                                 &taken);
    });
    FUZZ_CHECK(result == verdict);

    // The same bytes in a file, through a FileWindow: at the start of the file (a fresh window),
    // and after filler, the window's buffer read from the file's start and ending shortly after
    // the block's start.
    static FILE* const at_start = make_scratch_file(0);
    static FILE* const after_filler_file = make_scratch_file(kFixedFiller);
    for (const bool after_filler : {false, true}) {
        FILE* const file = after_filler ? after_filler_file : at_start;
        const std::size_t offset = after_filler ? FileWindow::kSize - 1 - size % 32 : 0;
        place_block(file, after_filler ? kFixedFiller : 0, offset, bytes, size);
        // A source opened on the file as it is now (its size is taken when it is opened).
        const std::unique_ptr<ByteSource> source =
            open_file_source(("/proc/self/fd/" + std::to_string(fileno(file))).c_str());
        FUZZ_CHECK(source != nullptr);
        auto window = std::make_unique<FileWindow>(*source);
        if (after_filler) {
            uint8_t first = 0;
            FUZZ_CHECK(window->read(0, &first, 1) == 1);
        }
        std::vector<float> through_window = fresh;
        int64_t window_taken = 0;
        const int window_result = decode_on_heap(&through_window, used, [&](float* out) {
            return decode_block_into_at(window.get(), static_cast<int64_t>(offset), tables, block,
                                        wanted, dequantise, out, pitch, true, &window_taken);
        });
        FUZZ_CHECK(window_result == result);
        FUZZ_CHECK(window_taken == taken);
        FUZZ_CHECK(std::memcmp(through_window.data(), area.data(), cells * sizeof(float)) == 0);
    }
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
