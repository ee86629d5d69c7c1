#include "tools/picture_reader.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

#include <sys/stat.h>

namespace kavel {

namespace {

struct FileCloser {
    void operator()(FILE* file) const {
        if (file) std::fclose(file);
    }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool too_large(uint64_t width, uint64_t height, uint64_t channels, const PictureLimits& limits,
               const std::string& path, std::string* error) {
    if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
        *error = path + ": a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " is too large for the Kavel format (at most 2147483647 on a side)";
        return true;
    }
    if (width * height > limits.max_pixels) {
        *error = path + ": a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " is too large: it has more than " + std::to_string(limits.max_pixels) +
                 " pixels (--max-pixels)";
        return true;
    }
    if (width * height * channels > limits.max_samples) {
        *error = path + ": a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                 " is too large to encode (at most " + std::to_string(limits.max_samples) +
                 " samples)";
        return true;
    }
    return false;
}

// --- PNG ------------------------------------------------------------------------------------
//
// libpng reports errors by longjmp. The two functions that call into it keep only plain
// values in their frames; everything with a destructor lives in the caller.

struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[200] = {};
    bool warned_alpha = false;
    bool warned_16 = false;
    bool grey_palette = false;
    uint32_t width = 0, height = 0;
    int channels = 0;  // after the transforms: 1, 2 (grey + alpha), 3, 4 (RGB + alpha)
};

void png_error_handler(png_structp png, png_const_charp message) {
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", message);
    png_longjmp(png, 1);
}

void png_warning_handler(png_structp, png_const_charp) {}

// Reads the header and sets up the transforms to 8-bit grey or RGB (alpha kept, stripped by
// the caller, which also warns). 0 on success.
int png_begin(FILE* file, PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return 1;
    png_init_io(s->png, file);
    png_set_sig_bytes(s->png, 8);
    // Our own limits decide what is too large, not libpng's defaults.
    png_set_user_limits(s->png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(s->png, s->info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0;
    png_get_IHDR(s->png, s->info, &width, &height, &depth, &colour, nullptr, nullptr, nullptr);
    s->width = width;
    s->height = height;
    if (colour == PNG_COLOR_TYPE_PALETTE) {
        png_colorp palette = nullptr;
        int entries = 0;
        s->grey_palette = png_get_PLTE(s->png, s->info, &palette, &entries) != 0;
        for (int i = 0; s->grey_palette && i < entries; ++i)
            s->grey_palette =
                palette[i].red == palette[i].green && palette[i].red == palette[i].blue;
        png_set_palette_to_rgb(s->png);
    }
    if (colour == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(s->png);
    if (png_get_valid(s->png, s->info, PNG_INFO_tRNS)) {
        // Transparency by a colour key or palette alpha: the samples are what we keep.
        s->warned_alpha = true;
        png_set_tRNS_to_alpha(s->png);
    }
    if (depth == 16) {
        s->warned_16 = true;
        png_set_scale_16(s->png);
    }
    if (colour & PNG_COLOR_MASK_ALPHA) s->warned_alpha = true;
    png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    s->channels = png_get_channels(s->png, s->info);
    return 0;
}

int png_rows(PngState* s, png_bytep* rows) {
    if (setjmp(png_jmpbuf(s->png))) return 1;
    png_read_image(s->png, rows);
    png_read_end(s->png, nullptr);
    return 0;
}

int png_next_row(PngState* s, png_bytep row) {
    if (setjmp(png_jmpbuf(s->png))) return 1;
    png_read_row(s->png, row, nullptr);
    return 0;
}

int png_end(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return 1;
    png_read_end(s->png, nullptr);
    return 0;
}

bool read_png(FILE* file, const std::string& path, Picture* picture, std::string* error,
              std::vector<std::string>* warnings, const PictureLimits& limits) {
    PngState state;
    state.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &state, png_error_handler,
                                       png_warning_handler);
    if (!state.png) {
        *error = path + ": out of memory";
        return false;
    }
    state.info = png_create_info_struct(state.png);
    struct Cleanup {
        PngState* s;
        ~Cleanup() { png_destroy_read_struct(&s->png, s->info ? &s->info : nullptr, nullptr); }
    } cleanup{&state};
    if (!state.info) {
        *error = path + ": out of memory";
        return false;
    }
    if (png_begin(file, &state) != 0) {
        *error = path + ": not a readable PNG file (" + state.message + ")";
        return false;
    }
    const int channels = state.channels;
    if (channels < 1 || channels > 4 ||
        png_get_rowbytes(state.png, state.info) !=
            std::size_t(state.width) * std::size_t(channels)) {
        *error = path + ": unsupported PNG layout";
        return false;
    }
    const int kept = channels >= 3 ? 3 : 1;
    const int out_channels = (kept == 3 && state.grey_palette) ? 1 : kept;
    if (too_large(state.width, state.height, uint64_t(std::max(channels, kept)), limits, path,
                  error))
        return false;

    // The picture with alpha still interleaved; alpha and grey palettes are squeezed out
    // in place afterwards.
    const std::size_t row_bytes = std::size_t(state.width) * std::size_t(channels);
    std::vector<uint8_t> samples;
    if (png_get_interlace_type(state.png, state.info) != PNG_INTERLACE_NONE) {
        // Interlaced rows are filled in over several passes: the whole picture is needed
        // at once (within the limit checked above).
        samples.resize(row_bytes * state.height);
        std::vector<png_bytep> rows(state.height);
        for (uint32_t y = 0; y < state.height; ++y) rows[y] = samples.data() + row_bytes * y;
        if (png_rows(&state, rows.data()) != 0) {
            *error = path + ": broken PNG data (" + state.message + ")";
            return false;
        }
    } else {
        // Memory grows with the rows that arrive, never ahead of the data.
        std::vector<uint8_t> row(row_bytes);
        for (uint32_t y = 0; y < state.height; ++y) {
            if (png_next_row(&state, row.data()) != 0) {
                *error = path + ": broken PNG data at row " + std::to_string(y) + " of " +
                         std::to_string(state.height) + " (" + state.message + ")";
                return false;
            }
            samples.insert(samples.end(), row.begin(), row.end());
        }
        if (png_end(&state) != 0) {
            *error = path + ": broken PNG data (" + state.message + ")";
            return false;
        }
    }
    if (out_channels != channels) {
        const std::size_t count = std::size_t(state.width) * state.height;
        for (std::size_t i = 0; i < count; ++i)
            for (int c = 0; c < out_channels; ++c)
                samples[i * std::size_t(out_channels) + std::size_t(c)] =
                    samples[i * std::size_t(channels) + std::size_t(c)];
        samples.resize(count * std::size_t(out_channels));
        samples.shrink_to_fit();
    }
    if (warnings) {
        if (state.warned_alpha) warnings->push_back(path + ": the alpha channel is dropped");
        if (state.warned_16) warnings->push_back(path + ": 16-bit samples are reduced to 8 bits");
    }
    picture->width = static_cast<int32_t>(state.width);
    picture->height = static_cast<int32_t>(state.height);
    picture->channels = out_channels;
    picture->samples = std::move(samples);
    return true;
}

// --- PGM / PPM ------------------------------------------------------------------------------

// Reads one header number: skips white space and comments (# to the end of the line).
bool pnm_number(FILE* file, uint64_t* value) {
    int c = std::fgetc(file);
    while (true) {
        if (c == '#') {
            while (c != EOF && c != '\n' && c != '\r') c = std::fgetc(file);
        } else if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            c = std::fgetc(file);
        } else {
            break;
        }
    }
    if (c < '0' || c > '9') return false;
    uint64_t v = 0;
    while (c >= '0' && c <= '9') {
        v = v * 10 + uint64_t(c - '0');
        if (v > (uint64_t{1} << 40)) return false;
        c = std::fgetc(file);
    }
    // Exactly one white-space character ends the number.
    if (!(c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')) return false;
    *value = v;
    return true;
}

bool read_pnm(FILE* file, const std::string& path, int channels, Picture* picture,
              std::string* error, std::vector<std::string>* warnings, const PictureLimits& limits) {
    uint64_t width = 0, height = 0, maxval = 0;
    if (!pnm_number(file, &width) || !pnm_number(file, &height) || !pnm_number(file, &maxval)) {
        *error = path + ": broken PGM/PPM header";
        return false;
    }
    if (width == 0 || height == 0 || maxval == 0 || maxval > 65535) {
        *error = path + ": PGM/PPM header has size " + std::to_string(width) + " x " +
                 std::to_string(height) + " and maxval " + std::to_string(maxval) +
                 " (maxval 1..65535 and a non-empty picture expected)";
        return false;
    }
    if (too_large(width, height, uint64_t(channels), limits, path, error)) return false;
    const std::size_t count = std::size_t(width) * std::size_t(height) * std::size_t(channels);
    const bool wide = maxval > 255;
    // A file shorter than its header says is refused before its pixels are allocated; from
    // a pipe, memory grows with the rows that arrive.
    std::vector<uint8_t> samples;
    struct stat status {};
    const long at = std::ftell(file);
    if (::fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) && at >= 0) {
        const uint64_t have = uint64_t(status.st_size) - uint64_t(at);
        const uint64_t need = uint64_t(count) * (wide ? 2 : 1);
        if (have < need) {
            *error = path + ": the PGM/PPM data ends early (" + std::to_string(have) +
                     " bytes of pixels for a " + std::to_string(width) + " x " +
                     std::to_string(height) + " picture that needs " + std::to_string(need) + ")";
            return false;
        }
        samples.reserve(count);
    }
    // Read row by row, scaling into 8 bits with rounding.
    const std::size_t per_row = std::size_t(width) * std::size_t(channels);
    std::vector<uint8_t> row(per_row * (wide ? 2 : 1));
    for (uint64_t y = 0; y < height; ++y) {
        if (std::fread(row.data(), 1, row.size(), file) != row.size()) {
            *error = path + ": the PGM/PPM data ends early (row " + std::to_string(y) + " of " +
                     std::to_string(height) + ")";
            return false;
        }
        samples.resize(samples.size() + per_row);
        uint8_t* out = samples.data() + per_row * y;
        for (std::size_t i = 0; i < per_row; ++i) {
            const uint32_t v = wide ? (uint32_t(row[2 * i]) << 8 | row[2 * i + 1]) : row[i];
            if (v > maxval) {
                *error = path + ": a sample exceeds the maxval " + std::to_string(maxval);
                return false;
            }
            out[i] =
                maxval == 255 ? uint8_t(v) : uint8_t((uint64_t(v) * 255 + maxval / 2) / maxval);
        }
    }
    if (warnings && wide) warnings->push_back(path + ": 16-bit samples are reduced to 8 bits");
    picture->width = static_cast<int32_t>(width);
    picture->height = static_cast<int32_t>(height);
    picture->channels = channels;
    picture->samples = std::move(samples);
    return true;
}

}  // namespace

bool read_picture(const std::string& path, Picture* picture, std::string* error,
                  std::vector<std::string>* warnings, const PictureLimits& limits) {
    const bool standard_input = path == "-";
    const std::string shown = standard_input ? "standard input" : path;
    File file(standard_input ? nullptr : std::fopen(path.c_str(), "rb"));
    if (!standard_input && !file) {
        *error = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    FILE* stream = standard_input ? stdin : file.get();
    // The signature is read once, without seeking back, so that pipes work too.
    uint8_t magic[8] = {};
    std::size_t got = std::fread(magic, 1, 2, stream);
    if (got == 2 && magic[0] == 'P' && (magic[1] == '5' || magic[1] == '6')) {
        return read_pnm(stream, shown, magic[1] == '5' ? 1 : 3, picture, error, warnings,
                        limits);
    }
    if (got == 2 && magic[0] == 0x89) got += std::fread(magic + 2, 1, 6, stream);
    if (got == sizeof magic && png_sig_cmp(magic, 0, sizeof magic) == 0) {
        return read_png(stream, shown, picture, error, warnings, limits);
    }
    if (got == 0 && std::ferror(stream)) {
        *error = shown + ": cannot read: " + std::strerror(errno);
        return false;
    }
    *error = shown + (got == 0 ? ": is empty" : ": not a PNG, PGM (P5) or PPM (P6) file");
    return false;
}

bool write_pnm(const std::string& path, const Picture& picture, std::string* error) {
    File file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        *error = path + ": cannot create: " + std::strerror(errno);
        return false;
    }
    std::fprintf(file.get(), "P%c\n%d %d\n255\n", picture.channels == 1 ? '5' : '6', picture.width,
                 picture.height);
    if (std::fwrite(picture.samples.data(), 1, picture.samples.size(), file.get()) !=
            picture.samples.size() ||
        std::fclose(file.release()) != 0) {
        *error = path + ": cannot write";
        return false;
    }
    return true;
}

}  // namespace kavel
