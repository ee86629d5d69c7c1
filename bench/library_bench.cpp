// The library as its users link it (libkavel through kavel.h): a whole image and a 256 x 256
// window decoded from a path and from memory, with the decode's threads option at 1 and 2,
// to show how one large window spreads over the cores.
//
//   build/bench/library_bench [--benchmark_filter=...]
//
// The file is $KAVEL_BENCH_KVL, or data/astronaut.png encoded once with `kavel encode`.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "kavel/kavel.h"

namespace {

const std::string& sample_path() {
    static const std::string path = [] {
        const char* given = std::getenv("KAVEL_BENCH_KVL");
        if (given != nullptr) return std::string(given);
        const std::string out = "/tmp/kavel-library-bench.kvl";
        const std::string command = std::string(KAVEL_TOOL) + " encode " KAVEL_DATA_DIR
                                                              "/astronaut.png " +
                                    out + " > /dev/null";
        if (std::system(command.c_str()) != 0) {
            std::fprintf(stderr, "cannot encode the sample\n");
            std::exit(1);
        }
        return out;
    }();
    return path;
}

const std::vector<char>& sample_bytes() {
    static const std::vector<char> bytes = [] {
        std::ifstream in(sample_path(), std::ios::binary);
        return std::vector<char>(std::istreambuf_iterator<char>(in), {});
    }();
    return bytes;
}

enum class Source { path, memory };

// Decodes at scale 0 the whole image (size 0) or a centred size x size window.
void decode(benchmark::State& state, Source from, int32_t size) {
    kavel_image* image = nullptr;
    const kavel_status opened =
        from == Source::path
            ? kavel_open_path(sample_path().c_str(), &image)
            : kavel_open_memory(sample_bytes().data(), sample_bytes().size(), &image);
    if (opened != KAVEL_OK) {
        state.SkipWithError(kavel_last_error());
        return;
    }
    kavel_info info{};
    kavel_get_info(image, &info);
    kavel_window window{0, 0, info.width - 1, info.height - 1};
    if (size > 0) {
        window.x0 = info.width > size ? (info.width - size) / 2 : 0;
        window.y0 = info.height > size ? (info.height - size) / 2 : 0;
        window.x1 = window.x0 + size - 1;
        window.y1 = window.y0 + size - 1;
    }
    const int64_t columns = int64_t{window.x1} - window.x0 + 1;
    const int64_t rows = int64_t{window.y1} - window.y0 + 1;
    const auto stride = static_cast<size_t>(columns * info.planes);
    std::vector<uint8_t> pixels(stride * static_cast<size_t>(rows));
    kavel_decode_options options{sizeof(kavel_decode_options),
                                 static_cast<int32_t>(state.range(0))};
    for (auto _ : state) {
        if (kavel_decode(image, 0, window, pixels.data(), stride, &options) != KAVEL_OK) {
            state.SkipWithError(kavel_last_error());
            break;
        }
        benchmark::DoNotOptimize(pixels.data());
    }
    state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(columns * rows) / 1e6,
                                                    benchmark::Counter::kIsIterationInvariantRate);
    kavel_close(image);
}

void BM_WholeFromPath(benchmark::State& s) { decode(s, Source::path, 0); }
void BM_WholeFromMemory(benchmark::State& s) { decode(s, Source::memory, 0); }
void BM_Window256FromPath(benchmark::State& s) { decode(s, Source::path, 256); }
void BM_Window256FromMemory(benchmark::State& s) { decode(s, Source::memory, 256); }

}  // namespace

BENCHMARK(BM_WholeFromPath)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WholeFromMemory)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Window256FromPath)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Window256FromMemory)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
