#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "format/kavel.h"
#include "tools/argument_parsing.h"
#include "tools/atomic_output.h"
#include "tools/commands.h"
#include "tools/picture_writer.h"
#include "tools/strip_decoder.h"

namespace {

void print_decode_usage(FILE* out) {
    std::fputs(
        "usage: kavel decode FILE -o OUT [--scale S] [--window X0,Y0,X1,Y1] [--threads N]\n"
        "Decodes a window of a Kavel file at a scale into OUT.\n"
        "  -o OUT        output file; its extension chooses the format:\n"
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
        "  --threads N   decode strips on N threads (1 to 64; default: one per processor,\n"
        "                at most four)\n"
        "Large outputs are decoded in strips, several at once, so memory follows the strips,\n"
        "not the image.\n",
        out);
}

int decode_failure(const char* path, const std::string& reason) {
    std::fprintf(stderr, "kavel decode: %s: %s\n", path, reason.c_str());
    return 1;
}

}  // namespace

int run_decode_command(int argc, char** argv) {
    const char* path = nullptr;
    std::string output;
    int64_t scale = 0;
    bool has_window = false;
    int64_t thread_count = 0;
    std::vector<int64_t> window_values;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const bool has_value = i + 1 < argc;
        if (argument == "--help" || argument == "-h") {
            print_decode_usage(stdout);
            return 0;
        } else if (argument == "-o" && has_value) {
            output = argv[++i];
        } else if (argument == "--scale" && has_value) {
            if (!parse_int(argv[++i], 0, 31, &scale)) {
                std::fprintf(stderr, "kavel decode: --scale needs an integer from 0 to 31\n");
                print_decode_usage(stderr);
                return 2;
            }
        } else if (argument == "--threads" && has_value) {
            if (!parse_int(argv[++i], 1, 64, &thread_count)) {
                std::fprintf(stderr, "kavel decode: --threads needs an integer from 1 to 64\n");
                print_decode_usage(stderr);
                return 2;
            }
        } else if (argument == "--window" && has_value) {
            if (!parse_int_list(argv[++i], 4, INT32_MIN, INT32_MAX, &window_values) ||
                window_values[2] < window_values[0] || window_values[3] < window_values[1]) {
                std::fprintf(stderr,
                             "kavel decode: --window needs X0,Y0,X1,Y1 with X0 <= X1 and "
                             "Y0 <= Y1\n");
                print_decode_usage(stderr);
                return 2;
            }
            has_window = true;
        } else if (argument[0] != '-' && path == nullptr) {
            path = argv[i];
        } else {
            std::fprintf(stderr, "kavel decode: unexpected argument '%s'\n", argv[i]);
            print_decode_usage(stderr);
            return 2;
        }
    }
    if (path == nullptr || output.empty()) {
        print_decode_usage(stderr);
        return 2;
    }
    PictureFormat format{};
    if (!picture_format_for(output, &format)) {
        std::fprintf(stderr,
                     "kavel decode: %s: unknown output type (use .png, .pgm, .ppm or .raw)\n",
                     output.c_str());
        print_decode_usage(stderr);
        return 2;
    }

    std::string error;
    const auto image = kavel::Image::open(path, &error);
    if (!image) return decode_failure(path, error);
    const kavel::ImageInfo& info = image->info();
    if (scale > info.levels) {
        return decode_failure(path, "scale " + std::to_string(scale) + " is not present (0.." +
                                        std::to_string(info.levels) + ")");
    }
    const int32_t s = static_cast<int32_t>(scale);
    kavel::Window window = image->bounds_at(s);
    if (has_window) {
        window = kavel::Window{
            static_cast<int32_t>(window_values[0]), static_cast<int32_t>(window_values[1]),
            static_cast<int32_t>(window_values[2]), static_cast<int32_t>(window_values[3])};
    }
    const int64_t columns = window.columns();
    const int64_t rows = window.rows();
    const int64_t row_bytes = columns * info.planes;
    if (row_bytes > INT32_MAX || rows > INT32_MAX) {
        return decode_failure(path, "the window is too large");
    }

    AtomicOutput file(output);
    if (!file.open(&error)) return decode_failure(output.c_str(), error);
    auto writer = make_row_writer(format, file.stream(), static_cast<int32_t>(columns),
                                  static_cast<int32_t>(rows), info.planes, &error);
    if (!writer) return decode_failure(output.c_str(), error);

    const unsigned hardware = std::thread::hardware_concurrency();
    const int threads =
        thread_count > 0
            ? static_cast<int>(thread_count)
            : static_cast<int>(std::clamp<unsigned>(hardware == 0 ? 1 : hardware, 1, 4));
    bool failed_in_output = false;
    // No taller than the library decodes in one piece: a taller strip would be split again,
    // with a copy of its rows kept against a failure.
    const int64_t strip_rows =
        std::min<int64_t>(strip_rows_for(columns), image->strip_rows(window));
    if (!decode_in_strips(*image, s, window, strip_rows, threads, *writer, &error,
                          &failed_in_output)) {
        return decode_failure(failed_in_output ? output.c_str() : path, error);
    }
    if (!writer->finish(&error) || !file.commit(&error)) {
        return decode_failure(output.c_str(), error);
    }
    return 0;
}
