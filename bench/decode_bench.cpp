// Decoder benchmarks on a photograph: entropy decoding of one block, line synthesis, and
// region decodes of the whole image and of a 256 x 256 window at scales 0 and 2.
//
//   build/bench/decode_bench [--benchmark_filter=...]
//
// The photograph (data/astronaut.png, or $KAVEL_BENCH_IMAGE) is encoded once with
// `kavel encode` into a temporary file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "decode/decode_driver.h"
#include "decode/entropy_decoder.h"
#include "decode/wavelet.h"
#include "format/kavel.h"
#include "format/pool.h"

namespace {

const std::string& sample_path() {
    static const std::string path = [] {
        const char* given = std::getenv("KAVEL_BENCH_KVL");
        if (given != nullptr) return std::string(given);
        const char* image = std::getenv("KAVEL_BENCH_IMAGE");
        const std::string source = image != nullptr ? image : KAVEL_DATA_DIR "/astronaut.png";
        const std::string out = "/tmp/kavel-bench-sample.kvl";
        const std::string command =
            std::string(KAVEL_TOOL) + " encode " + source + " " + out + " > /dev/null";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "cannot encode %s\n", source.c_str());
            std::exit(1);
        }
        return out;
    }();
    return path;
}

const kavel::Image& sample() {
    static const kavel::Image image = *kavel::Image::open(sample_path());
    return image;
}

void decode_window(benchmark::State& state, int32_t scale, int32_t size) {
    const kavel::Image& image = sample();
    const int32_t w = image.width_at(scale), h = image.height_at(scale);
    kavel::Window window = image.bounds_at(scale);
    if (size > 0) {
        const int32_t x0 = std::max(0, (w - size) / 2), y0 = std::max(0, (h - size) / 2);
        window = kavel::Window{x0, y0, x0 + size - 1, y0 + size - 1};
    }
    const int32_t p = image.info().planes;
    const size_t stride = static_cast<size_t>(window.columns()) * p;
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(window.rows()));
    for (auto _ : state) {
        if (!image.decode(scale, window, pixels.data(), stride)) state.SkipWithError("decode");
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["Mpixel/s"] = benchmark::Counter(
        static_cast<double>(window.columns() * window.rows()) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_WholeImageScale0(benchmark::State& s) { decode_window(s, 0, 0); }
void BM_WholeImageScale2(benchmark::State& s) { decode_window(s, 2, 0); }
void BM_Window256Scale0(benchmark::State& s) { decode_window(s, 0, 256); }
void BM_Window256Scale2(benchmark::State& s) { decode_window(s, 2, 256); }

// Every block of the finest horizontally high subband of plane 0, decoded in full.
void BM_DecodeBlock(benchmark::State& state) {
    const kavel::Image& image = sample();
    const int32_t subband = 3 * image.info().levels - 2;
    const std::unique_ptr<ByteSource> source = open_file_source(sample_path().c_str());
    ByteStream opened(*source);
    ByteStream* stream = &opened;
    TileEntry* tiles = nullptr;
    int32_t tile_count = 0;
    DitherOrigin dither{};
    if (read_tile_directory(stream, subband, image.info().planes, &tiles, &tile_count, &dither) !=
            0 ||
        tile_count == 0) {
        state.SkipWithError("no tiles");
        return;
    }
    float step = 0;
    CodeTable table{};
    BlockEntry* blocks = nullptr;
    int32_t block_count = 0;
    if (read_tile_stream_header(stream, &tiles[0], 0, &step, &table, &blocks, &block_count) !=
        StreamHeaderResult::read) {
        state.SkipWithError("no stream");
        return;
    }
    std::vector<int16_t> values(65536);
    int64_t coefficients = 0;
    for (auto _ : state) {
        for (int32_t b = 0; b < block_count; ++b) {
            const BlockEntry& e = blocks[b];
            const RegionRect rect{e.column, e.column + e.width - 1, e.row, e.row + e.height - 1};
            stream->seek(e.offset);
            std::fill(values.begin(), values.begin() + e.width * e.height, 0);
            if (decode_block(stream, values.data(), table, rect, rect) != 0) {
                state.SkipWithError("decode_block");
            }
            coefficients += e.width * e.height;
        }
        benchmark::DoNotOptimize(values.data());
    }
    state.counters["Mcoef/s"] =
        benchmark::Counter(static_cast<double>(coefficients) / 1e6, benchmark::Counter::kIsRate);
    pool_free_all();
}

void BM_SynthesiseLine(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    std::mt19937 random(1);
    std::uniform_real_distribution<float> value(-100, 100);
    std::vector<float> low(static_cast<size_t>((n + 1) / 2)), high(static_cast<size_t>(n / 2)),
        out(static_cast<size_t>(n));
    for (float& v : low) v = value(random);
    for (float& v : high) v = value(random);
    for (auto _ : state) {
        synthesise_line(out.data(), 0, n - 1, low.data(), high.data(), 1, (n + 1) / 2, n / 2);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["Msample/s"] =
        benchmark::Counter(static_cast<double>(n) / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace

BENCHMARK(BM_DecodeBlock);
BENCHMARK(BM_SynthesiseLine)->Arg(256)->Arg(4096);
BENCHMARK(BM_WholeImageScale0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeImageScale2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Window256Scale0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Window256Scale2)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
