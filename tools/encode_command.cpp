#include "tools/encode_command.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <algorithm>

#include <sys/stat.h>
#include <unistd.h>

#include "encode/encoder.h"
#include "encode/kavel_writer.h"
#include "kavel/kavel.h"
#include "tools/command_line.h"
#include "common/atomic_output.h"
#include "tools/common/number_parsing.h"
#include "tools/input_file.h"
#include "tools/picture_reader.h"
#include "tools/progress_bar.h"

namespace {

constexpr const char* kUsage =
    "usage: kavel encode IN OUT.kvl [--levels L] [--quality Q | --step S | --bpp B]\n"
    "                    [--tile N] [--block N] [--layout by-place|index-first|natural]\n"
    "                    [--max-pixels N] [--force] [-q] [-v]\n";

// What the encoder holds per sample at its peak (the picture, its float planes and the
// coded tiles), for the default limit on the picture's size.
constexpr uint64_t kEncodeBytesPerSample = 8;

// The default --max-pixels: colour pictures whose encoding fits in this machine's memory.
uint64_t default_max_pixels() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    const uint64_t memory = pages > 0 && page_size > 0 ? uint64_t(pages) * uint64_t(page_size)
                                                       : uint64_t{4} << 30;
    return std::min<uint64_t>(memory / (3 * kEncodeBytesPerSample), kavel::kMaxEncodeSamples / 3);
}

void print_help() {
    std::printf(
        "%s\n"
        "Writes the picture IN (PNG: grey, grey + alpha, RGB, RGBA, palette, 8 or 16 bits;\n"
        "binary PGM / PPM) as the Kavel file OUT. Alpha is dropped and 16-bit samples are\n"
        "reduced to 8 bits, each with a warning. OUT is written under a temporary name and\n"
        "renamed into place when complete. IN - reads standard input, OUT - writes to\n"
        "standard output.\n\n"
        "options:\n"
        "  --levels L    wavelet levels, readable scales 0..L (default: split until the\n"
        "                smallest scale is below 64 pixels on its longer side)\n"
        "  --quality Q   1..100, 100 finest (default 75: about 1.5 bits per pixel on\n"
        "                photographs; 90 about 50 dB PSNR; 100 nearly lossless)\n"
        "  --step S      the quantisation step itself (> 0; 8 is quality 75, 0.5 nearly\n"
        "                lossless)\n"
        "  --bpp B       search the step that gives B bits per pixel (file size / pixels)\n"
        "  --tile N      tile side in coefficients of each subband (default: by the\n"
        "                subband's size, 128..2048)\n"
        "  --block N     block side in coefficients (default: %d in the finest subbands,\n"
        "                halved with every coarser level down to %d)\n"
        "  --layout L    by-place (default: directories and stream headers before all\n"
        "                blocks, headers and blocks sorted by the picture area they\n"
        "                cover: a window of a remote file in a few requests and little\n"
        "                more than its bytes), index-first (directories and stream\n"
        "                headers first, blocks subband by subband) or natural (each\n"
        "                tile's blocks after it)\n"
        "  --max-pixels N\n"
        "                refuse pictures of more than N pixels before reading their pixels\n"
        "                (default: what fits in this machine's memory, physical memory /\n"
        "                %llu bytes; here %llu)\n"
        "  --force       replace an existing OUT that is not a Kavel file\n"
        "  -q, --quiet   no warnings and no summary line\n"
        "  -v, --verbose say what is read and how it is coded\n\n"
        "example: kavel encode photo.png photo.kvl --bpp 1\n",
        kUsage, kavel::EncoderOptions::kDefaultFinestBlock,
        kavel::EncoderOptions::kDefaultSmallestBlock,
        static_cast<unsigned long long>(3 * kEncodeBytesPerSample),
        static_cast<unsigned long long>(default_max_pixels()));
}

int encode_failure(const std::string& message) {
    std::fprintf(stderr, "kavel encode: %s\n", message.c_str());
    return 1;
}

// An existing file that encoding would replace and that is not a Kavel file.
bool holds_other_data(const std::string& path) {
    struct stat status {};
    if (path == "-" || ::stat(path.c_str(), &status) != 0) return false;
    if (!S_ISREG(status.st_mode) || status.st_size == 0) return S_ISDIR(status.st_mode);
    kavel_image* image = nullptr;
    const kavel_status opened = kavel_open_path(path.c_str(), &image);
    kavel_close(image);
    return opened != KAVEL_OK;
}

}  // namespace

int run_encode_command(int argc, char** argv) {
    kavel_tools::CommandLine line;
    std::string why;
    if (!line.parse(argc, argv,
                    kavel_tools::with_common_options({{"levels", 0, true},
                                                      {"tile", 0, true},
                                                      {"block", 0, true},
                                                      {"quality", 0, true},
                                                      {"step", 0, true},
                                                      {"bpp", 0, true},
                                                      {"layout", 0, true},
                                                      {"max-pixels", 0, true},
                                                      {"force", 0, false}}),
                    &why)) {
        return kavel_tools::usage_error("encode", why);
    }
    if (kavel_tools::answered_help_or_version(line, print_help)) return 0;
    const bool quiet = line.has("quiet");
    const bool verbose = line.has("verbose") && !quiet;
    kavel::EncoderOptions options;
    int rate_options = 0;
    int64_t n = 0;
    auto failed = [&](const char* name) {
        return kavel_tools::usage_error("encode", std::string("--") + name + ": " + why);
    };
    using kavel_tools::parse_integer;
    using kavel_tools::parse_real;
    if (line.has("levels")) {
        if (!parse_integer(line.value("levels"), 0, kavel::kMaxLevelCount, &n, &why))
            return failed("levels");
        options.levels = static_cast<int32_t>(n);
    }
    for (const char* name : {"tile", "block"}) {
        if (!line.has(name)) continue;
        if (!parse_integer(line.value(name), 1, 65535, &n, &why)) return failed(name);
        (std::strcmp(name, "tile") == 0 ? options.tile_size : options.block_size) =
            static_cast<int32_t>(n);
    }
    if (line.has("layout")) {
        const std::string layout = line.value("layout");
        if (layout != "natural" && layout != "index-first" && layout != "by-place") {
            return kavel_tools::usage_error(
                "encode", "--layout: wants index-first, by-place or natural, not '" + layout + "'");
        }
        options.layout.order = layout == "natural"       ? kavel::LayoutOrder::natural
                               : layout == "index-first" ? kavel::LayoutOrder::index_first
                                                         : kavel::LayoutOrder::by_place;
    }
    if (line.has("quality")) {
        if (!parse_real(line.value("quality"), 1, 100, &options.quality, &why))
            return failed("quality");
        options.mode = kavel::RateMode::quality;
        ++rate_options;
    }
    if (line.has("step")) {
        if (!parse_real(line.value("step"), 1e-6, 1e9, &options.step, &why)) return failed("step");
        options.mode = kavel::RateMode::step;
        ++rate_options;
    }
    if (line.has("bpp")) {
        if (!parse_real(line.value("bpp"), 1e-4, 64, &options.bpp, &why)) return failed("bpp");
        options.mode = kavel::RateMode::bpp;
        ++rate_options;
    }
    kavel::PictureLimits limits;
    uint64_t max_pixels = default_max_pixels();
    if (line.has("max-pixels")) {
        if (!parse_integer(line.value("max-pixels"), 1, int64_t(kavel::kMaxEncodeSamples), &n,
                           &why))
            return failed("max-pixels");
        max_pixels = uint64_t(n);
    }
    if (rate_options > 1)
        return kavel_tools::usage_error("encode", "give only one of --quality, --step and --bpp");
    const auto& positional = line.positional();
    if (positional.size() != 2)
        return kavel_tools::usage_error("encode", "needs an input picture and an output file");
    const std::string& in = positional[0];
    const std::string& out = positional[1];
    if (kavel_tools::same_file(in, out))
        return encode_failure(out + ": is the input picture; choose another output");
    if (!line.has("force") && holds_other_data(out))
        return encode_failure(out + ": exists and is not a Kavel file (--force replaces it)");

    kavel::Picture picture;
    std::string error;
    std::vector<std::string> warnings;
    limits.max_pixels = max_pixels;
    if (!kavel::read_picture(in, &picture, &error, &warnings, limits)) return encode_failure(error);
    if (!quiet) {
        for (const std::string& warning : warnings)
            std::fprintf(stderr, "kavel encode: warning: %s\n", warning.c_str());
    }
    const std::string shown = in == "-" ? "standard input" : in;
    if (options.levels > kavel::max_level_count(picture.width, picture.height)) {
        return encode_failure(shown + ": --levels " + std::to_string(options.levels) +
                              " is too many for a " + std::to_string(picture.width) + " x " +
                              std::to_string(picture.height) + " picture (at most " +
                              std::to_string(kavel::max_level_count(picture.width,
                                                                    picture.height)) +
                              ")");
    }
    const int32_t width = picture.width, height = picture.height, channels = picture.channels;
    if (verbose) {
        std::fprintf(stderr, "kavel encode: %s: %d x %d %s\n", shown.c_str(), width, height,
                     channels == 1 ? "grey" : "colour");
    }
    kavel::EncodeResult result;
    {
        kavel_tools::ProgressBar progress("kavel encode", !quiet);
        progress.tick_until_done();
        if (!kavel::encode_picture(std::move(picture), options, &result, &error))
            return encode_failure(shown + ": " + error);
    }
    std::vector<uint8_t> bytes;
    if (!kavel::write_kavel(result.file, &bytes, &error)) return encode_failure(shown + ": " + error);
    kavel_common::AtomicOutput file(out);
    if (!file.open(&error) ||
        std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size() ||
        !file.commit(&error)) {
        if (error.empty()) error = "cannot write the output (disk full?)";
        return encode_failure(out + ": " + error);
    }
    if (!quiet) {
        // A message like any other: on standard error, so that OUT - stays clean.
        std::fprintf(stderr, "kavel encode: %s: %d x %d %s, %d levels, step %.4g, %llu bytes, "
                             "%.3f bits per pixel",
                     out == "-" ? "standard output" : out.c_str(), width, height,
                     channels == 1 ? "grey" : "colour", result.levels, result.step,
                     static_cast<unsigned long long>(result.bytes),
                     double(result.bytes) * 8.0 / (double(width) * double(height)));
        if (result.passes > 1) std::fprintf(stderr, " (%d coding passes)", result.passes);
        std::fprintf(stderr, "\n");
    }
    return 0;
}
