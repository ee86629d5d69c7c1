#include "tools/picture_writer.h"

#include <png.h>

#include <csetjmp>

namespace {

bool ends_with(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        const char c = text[text.size() - suffix.size() + i];
        const char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        if (lower != suffix[i]) return false;
    }
    return true;
}

class RawWriter : public RowWriter {
  public:
    RawWriter(FILE* stream, std::size_t row_bytes) : stream_(stream), row_bytes_(row_bytes) {}
    bool write_row(const uint8_t* row, std::string* error) override {
        if (std::fwrite(row, 1, row_bytes_, stream_) != row_bytes_) {
            *error = "cannot write the output";
            return false;
        }
        return true;
    }
    // Rows that follow one another go out in one write.
    bool write_rows(const uint8_t* rows, int64_t count, int64_t row_bytes,
                    std::string* error) override {
        if (row_bytes != static_cast<int64_t>(row_bytes_)) {
            return RowWriter::write_rows(rows, count, row_bytes, error);
        }
        const auto bytes = static_cast<std::size_t>(count) * row_bytes_;
        if (std::fwrite(rows, 1, bytes, stream_) != bytes) {
            *error = "cannot write the output";
            return false;
        }
        return true;
    }
    bool finish(std::string*) override { return true; }

  private:
    FILE* stream_;
    std::size_t row_bytes_;
};

class PngWriter : public RowWriter {
  public:
    PngWriter(FILE* stream, int32_t width, int32_t height, int32_t channels)
        : stream_(stream), width_(width), height_(height), channels_(channels) {}
    ~PngWriter() override { png_destroy_write_struct(&png_, &info_); }

    bool start(std::string* error) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        if (png_ == nullptr) return fail(error);
        info_ = png_create_info_struct(png_);
        if (info_ == nullptr) return fail(error);
        if (setjmp(png_jmpbuf(png_))) return fail(error);
        png_init_io(png_, stream_);
        png_set_IHDR(png_, info_, static_cast<png_uint_32>(width_),
                     static_cast<png_uint_32>(height_), 8,
                     channels_ == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_compression_level(png_, 6);
        png_write_info(png_, info_);
        return true;
    }
    bool write_row(const uint8_t* row, std::string* error) override {
        if (setjmp(png_jmpbuf(png_))) return fail(error);
        png_write_row(png_, row);
        return true;
    }
    bool finish(std::string* error) override {
        if (setjmp(png_jmpbuf(png_))) return fail(error);
        png_write_end(png_, nullptr);
        return true;
    }

  private:
    static bool fail(std::string* error) {
        *error = "cannot write the PNG output";
        return false;
    }
    FILE* stream_;
    int32_t width_, height_, channels_;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

}  // namespace

bool picture_format_for(const std::string& path, PictureFormat* format) {
    if (ends_with(path, ".png")) {
        *format = PictureFormat::png;
    } else if (ends_with(path, ".pgm") || ends_with(path, ".ppm")) {
        *format = PictureFormat::pnm;
    } else if (ends_with(path, ".raw")) {
        *format = PictureFormat::raw;
    } else {
        return false;
    }
    return true;
}

std::unique_ptr<RowWriter> make_row_writer(PictureFormat format, FILE* stream, int32_t width,
                                           int32_t height, int32_t channels, std::string* error) {
    const std::size_t row_bytes = static_cast<std::size_t>(width) * channels;
    switch (format) {
        case PictureFormat::raw:
            return std::make_unique<RawWriter>(stream, row_bytes);
        case PictureFormat::pnm:
            if (channels != 1 && channels != 3) {
                *error = "PGM/PPM output needs 1 or 3 planes; this image has " +
                         std::to_string(channels) + " (use .raw)";
                return nullptr;
            }
            if (std::fprintf(stream, "P%c\n%d %d\n255\n", channels == 1 ? '5' : '6', width,
                             height) < 0) {
                *error = "cannot write the output";
                return nullptr;
            }
            return std::make_unique<RawWriter>(stream, row_bytes);
        case PictureFormat::png: {
            if (channels != 1 && channels != 3) {
                *error = "PNG output needs 1 or 3 planes; this image has " +
                         std::to_string(channels) + " (use .raw)";
                return nullptr;
            }
            auto writer = std::make_unique<PngWriter>(stream, width, height, channels);
            if (!writer->start(error)) return nullptr;
            return writer;
        }
    }
    return nullptr;
}
