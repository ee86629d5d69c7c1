// The plain tile walk of the straightforward decoder, and the decoder override that names it.
#include "decode/dequantise.h"
#include "decode/wavelet.h"
#include "format/pool.h"
#include "tests/support/reference/reference_decoder.h"

int decode_tile_reference(const LeafDecode& d, const TileEntry& tile) {
    float step = 0.0f;
    CodeTable table{};
    BlockEntry* blocks = nullptr;
    int32_t block_count = 0;
    const StreamHeaderResult header =
        read_tile_stream_header(d.stream, &tile, d.plane, &step, &table, &blocks, &block_count);
    if (header == StreamHeaderResult::absent) return 0;
    if (header == StreamHeaderResult::failed) return 1;
    const float delta = effective_step(step, d.leaf->gain, d.scale);
    for (int32_t b = 0; b < block_count; ++b) {
        const BlockEntry& block = blocks[b];
        const RegionRect rect{tile.x0 + block.column, tile.x0 + (block.column + block.width - 1),
                              tile.y0 + block.row, tile.y0 + (block.row + block.height - 1)};
        if (!rects_meet(rect, d.needed)) continue;
        if (!d.work->spend(kWorkPerBlock) || !d.work->charge_block_read(block.offset, d.file_size)) {
            return 1;
        }
        const RegionRect wanted = rect_intersection(d.needed, rect);
        const int32_t wanted_width = wanted.x1 - wanted.x0 + 1;
        const int32_t wanted_height = wanted.y1 - wanted.y0 + 1;
        const int32_t count = wanted_width * wanted_height;
        if (block.offset < 0 || !d.stream->seek(block.offset)) return 1;
        auto* values =
            static_cast<int16_t*>(pool_calloc(count, static_cast<int32_t>(sizeof(int16_t))));
        if (values == nullptr) return 1;
        int64_t symbols = 0;
        if (decode_block_reference(d.stream, values, table, rect, wanted, &symbols) != 0 ||
            !d.work->spend(symbols)) {
            return 1;
        }
        auto* samples =
            static_cast<float*>(pool_alloc(count * static_cast<int32_t>(sizeof(float))));
        if (samples == nullptr) return 1;
        if (dequantise_block(samples, values, count, delta, wanted,
                             d.plane == 0 ? &d.dither : nullptr) != 0) {
            return 1;
        }
        pool_free(values);
        float* destination = d.destination(wanted);
        for (int32_t r = 0; r < wanted_height; ++r) {
            float* out = destination + int64_t{r} * d.needed_width;
            const float* in = samples + int64_t{r} * wanted_width;
            for (int32_t q = 0; q < wanted_width; ++q) out[q] = in[q];
        }
        pool_free(samples);
    }
    release_stream_header(&table, blocks);
    return 0;
}

const DecoderOverride* reference_decoder() {
    static const DecoderOverride decoder{&decode_tile_reference, &synthesise_node_reference};
    return &decoder;
}
