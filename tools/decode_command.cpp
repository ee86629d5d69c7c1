#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kavel/kavel.hpp"
#include "tools/command_line.h"
#include "tools/commands.h"
#include "common/atomic_output.h"
#include "tools/common/number_parsing.h"
#include "tools/input_file.h"
#include "tools/library_messages.h"
#include "tools/mapped_input.h"
#include "tools/picture_writer.h"
#include "tools/progress_bar.h"
#include "tools/heap_settings.h"
#include "tools/strip_decoder.h"

using namespace kavel_tools;
using kavel_common::AtomicOutput;

namespace {

constexpr int64_t kLargeOutputBytes = int64_t{1} << 30;
// Outputs of at least this many bytes read a mapped file.
constexpr int64_t kMappedReadBytes = int64_t{1} << 22;
// Heap room each decoding thread of such a read offers to large pages: more than the strips
// it decodes take at once.
constexpr std::size_t kLargePageHeapBytes = std::size_t{48} << 20;
static_assert(kLargePageHeapBytes < kThreadHeapBytes);

void print_decode_usage() {
    std::printf(
        "usage: kavel decode FILE -o OUT [--scale S] [--window X0,Y0,X1,Y1] [--threads N]\n"
        "                    [--format png|pgm|ppm|raw] [--png-level L] [-q] [-v]\n"
        "Decodes a window of a Kavel file at a scale into OUT. FILE - reads standard input.\n"
        "  -o, --output OUT\n"
        "                output file; its extension chooses the format unless --format\n"
        "                does; - writes to standard output (then --format is needed):\n"
        "                .png   PNG (1 or 3 planes)\n"
        "                .pgm/.ppm  binary PGM or PPM (1 or 3 planes)\n"
        "                .raw   the decoded bytes for any plane count: planes interleaved,\n"
        "                       rows of P x (X1 - X0 + 1) bytes, top to bottom\n"
        "  --scale S     scale 0 (full size, the default) to L: the image at 1 : 2^S\n"
        "  --window X0,Y0,X1,Y1\n"
        "                the pixels X0..X1, Y0..Y1 (inclusive) of the image at scale S;\n"
        "                default the whole image at S. A window may reach beyond the\n"
        "                image: what lies outside decodes as black.\n"
        "                Example: --scale 1 --window 0,0,255,255 reads the top-left\n"
        "                256 x 256 pixels of the half-size image.\n"
        "  --threads N   decode on N threads (1 to 64; default: one per processor,\n"
        "                at most four)\n"
        "  --format F    png, pgm, ppm or raw, whatever the output's name\n"
        "  --png-level L PNG compression 0 (none) to 9 (smallest, slowest); default %d\n"
        "  -q, --quiet   no warnings and no progress bar\n"
        "  -v, --verbose say what is decoded and how\n"
        "The window is decoded in pieces of a few million samples, several at once, so memory\n"
        "stays a few tens of megabytes whatever the image's shape. The output appears only\n"
        "when complete. A warning comes first when the output will exceed 1 GB or the window\n"
        "lies mostly outside the image.\n",
        kavel_output::PngOptions::kDefaultLevel);
}

int decode_failure(const std::string& subject, const std::string& reason) {
    std::fprintf(stderr, "kavel decode: %s: %s\n", subject.c_str(), reason.c_str());
    return 1;
}

// The share of the window's pixels that lie inside the image (0 to 1).
double share_inside(const kavel::Window& window, const kavel::Window& bounds) {
    const int64_t columns = std::min<int64_t>(window.x1, bounds.x1) -
                            std::max<int64_t>(window.x0, bounds.x0) + 1;
    const int64_t rows = std::min<int64_t>(window.y1, bounds.y1) -
                         std::max<int64_t>(window.y0, bounds.y0) + 1;
    if (columns <= 0 || rows <= 0) return 0;
    return double(columns) * double(rows) /
           (double(kavel::columns(window)) * double(kavel::rows(window)));
}

std::string gigabytes(int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    return text;
}

}  // namespace

int run_decode_command(int argc, char** argv) {
    CommandLine line;
    std::string why;
    if (!line.parse(argc, argv,
                    with_common_options({{"output", 'o', true},
                                         {"scale", 0, true},
                                         {"window", 0, true},
                                         {"threads", 0, true},
                                         {"format", 0, true},
                                         {"png-level", 0, true}}),
                    &why)) {
        return usage_error("decode", why);
    }
    if (answered_help_or_version(line, print_decode_usage)) return 0;
    const bool quiet = line.has("quiet");
    const bool verbose = line.has("verbose") && !quiet;
    int64_t scale = 0, thread_count = 0, png_level = kavel_output::PngOptions::kDefaultLevel;
    std::vector<int64_t> window_values;
    if (line.has("scale") && !parse_integer(line.value("scale"), 0, 31, &scale, &why))
        return usage_error("decode", "--scale: " + why);
    if (line.has("threads") && !parse_integer(line.value("threads"), 1, 64, &thread_count, &why))
        return usage_error("decode", "--threads: " + why);
    if (line.has("png-level") && !parse_integer(line.value("png-level"), 0, 9, &png_level, &why))
        return usage_error("decode", "--png-level: " + why);
    if (line.has("window")) {
        if (!parse_integer_list(line.value("window"), 4, INT32_MIN, INT32_MAX, &window_values,
                                &why))
            return usage_error("decode", "--window: " + why);
        if (window_values[2] < window_values[0] || window_values[3] < window_values[1])
            return usage_error("decode", "--window needs X0 <= X1 and Y0 <= Y1");
    }
    if (line.positional().size() != 1)
        return usage_error("decode", line.positional().empty() ? "no input file given"
                                                               : "give one input file");
    if (!line.has("output")) return usage_error("decode", "no output given (-o OUT)");
    const std::string output = line.value("output");
    PictureFormat format{};
    if (line.has("format")) {
        if (!picture_format_named(line.value("format"), &format))
            return usage_error("decode", "--format: '" + line.value("format") +
                                             "' is not png, pgm, ppm or raw");
    } else if (output == "-") {
        return usage_error("decode", "writing to standard output needs --format png|pgm|ppm|raw");
    } else if (!picture_format_for(output, &format)) {
        return usage_error("decode", output + ": unknown output type (use .png, .pgm, .ppm or "
                                              ".raw, or --format)");
    }

    std::string error;
    InputFile input;
    if (!input.open(line.positional()[0], &error)) {
        std::fprintf(stderr, "kavel decode: %s\n", error.c_str());
        return 1;
    }
    if (same_file(input.path(), output))
        return decode_failure(output, "is the input file; choose another output");
    // A large read maps the file (it outlives the image that reads it, declared after it).
    MappedInput mapped;
    std::optional<kavel::Image> opened;
    try {
        opened.emplace(kavel::Image::open(input.path()));
    } catch (const kavel::Error& failure) {
        return decode_failure(input.shown(), reason_of(failure, input.path()));
    }
    const kavel::Info info = opened->info();
    if (scale > info.levels) {
        return decode_failure(input.shown(), "scale " + std::to_string(scale) +
                                                 " is not present (0.." +
                                                 std::to_string(info.levels) + ")");
    }
    const int32_t s = static_cast<int32_t>(scale);
    const kavel::Window bounds = opened->bounds_at(s);
    kavel::Window window = bounds;
    if (!window_values.empty()) {
        window = kavel::Window{
            static_cast<int32_t>(window_values[0]), static_cast<int32_t>(window_values[1]),
            static_cast<int32_t>(window_values[2]), static_cast<int32_t>(window_values[3])};
    }
    const int64_t columns = kavel::columns(window);
    const int64_t rows = kavel::rows(window);
    const int64_t output_bytes = columns * rows * info.planes;
    // A large read takes the file mapped into memory, read in place without a copy per read; a
    // small window reads through the descriptor, so that its memory does not grow with the
    // pages a mapping brings in around the ones it needs. A file that cannot be mapped (or
    // that no longer holds the same image) is read through the descriptor.
    if (output_bytes >= kMappedReadBytes && mapped.map(input.path(), input.shown())) {
        try {
            kavel::Image in_place = kavel::Image::open_memory(mapped.bytes());
            const kavel::Info now = in_place.info();
            if (now.planes == info.planes && now.levels == info.levels &&
                now.width == info.width && now.height == info.height) {
                opened.emplace(std::move(in_place));
            }
        } catch (const kavel::Error&) {
            // read through the descriptor
        }
    }
    const kavel::Image& image = *opened;
    if (!quiet) {
        const double inside = share_inside(window, bounds);
        const std::string size = std::to_string(kavel::columns(bounds)) + " x " +
                                 std::to_string(kavel::rows(bounds)) + " image at scale " +
                                 std::to_string(s);
        if (inside == 0) {
            std::fprintf(stderr,
                         "kavel decode: warning: the window lies wholly outside the %s; it "
                         "decodes as black\n",
                         size.c_str());
        } else if (inside < 0.5) {
            std::fprintf(stderr,
                         "kavel decode: warning: %.0f%% of the window lies outside the %s; that "
                         "part decodes as black\n",
                         (1 - inside) * 100, size.c_str());
        }
        if (output_bytes > kLargeOutputBytes) {
            std::fprintf(stderr, "kavel decode: warning: the output will hold %s (%lld x %lld "
                                 "pixels, %d planes)\n",
                         gigabytes(output_bytes).c_str(), static_cast<long long>(columns),
                         static_cast<long long>(rows), info.planes);
        }
    }

    AtomicOutput file(output);
    if (!file.open(&error)) return decode_failure(output, error);
    const unsigned hardware = std::thread::hardware_concurrency();
    const int threads =
        thread_count > 0
            ? static_cast<int>(thread_count)
            : static_cast<int>(std::clamp<unsigned>(hardware == 0 ? 1 : hardware, 1, 4));
    kavel_output::PngOptions png;
    png.level = static_cast<int>(png_level);
    png.threads = threads;
    auto writer = make_row_writer(format, file.stream(), columns, rows, info.planes, png, &error);
    if (!writer) return decode_failure(output == "-" ? "standard output" : output, error);

    PiecePlan plan = plan_pieces(columns, info.planes, 1024, window.y0, s, info.levels, threads);
    // A large read's working memory comes in large pages (each thread's heap keeps it from
    // strip to strip); a small window keeps to 4 KiB pages, so that its memory stays what it
    // reads.
    if (output_bytes >= kMappedReadBytes) plan.large_page_heap = kLargePageHeapBytes;
    if (verbose) {
        std::fprintf(stderr,
                     "kavel decode: %s: %lld x %lld pixels at scale %d in pieces of %lld x %lld "
                     "on %d threads\n",
                     input.shown().c_str(), static_cast<long long>(columns),
                     static_cast<long long>(rows), s,
                     static_cast<long long>(std::min(plan.columns, columns)),
                     static_cast<long long>(plan.rows), threads);
    }
    ProgressBar progress("kavel decode", !quiet);
    bool failed_in_output = false;
    if (!decode_in_strips(image, s, window, plan, threads, *writer, &error, &failed_in_output,
                          [&](int64_t done, int64_t total) {
                              progress.update(done, total);
                              mapped.pieces_done(done, total);
                              file.start_writeback();
                          })) {
        return decode_failure(failed_in_output ? output : input.shown(), error);
    }
    if (!writer->finish(&error) || !file.commit(&error)) return decode_failure(output, error);
    return 0;
}
