#include "tools/picture_writer.h"

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
    explicit RawWriter(FILE* stream) : stream_(stream) {}
    bool write(const uint8_t* bytes, std::size_t count, std::string* error) override {
        if (std::fwrite(bytes, 1, count, stream_) != count) {
            *error = "cannot write the output (disk full?)";
            return false;
        }
        return true;
    }
    bool finish(std::string*) override { return true; }

private:
    FILE* stream_;
};

class PngWriter : public RowWriter {
public:
    PngWriter(FILE* stream, uint32_t width, uint32_t height, int32_t channels,
              const kavel_output::PngOptions& options)
        : png_(stream, width, height, channels, options) {}
    bool start(std::string* error) { return png_.start(error); }
    bool write(const uint8_t* bytes, std::size_t count, std::string* error) override {
        return png_.write(bytes, count, error);
    }
    bool finish(std::string* error) override { return png_.finish(error); }

private:
    kavel_output::PngStreamWriter png_;
};

}  // namespace

bool picture_format_named(const std::string& name, PictureFormat* format) {
    return picture_format_for("." + name, format);
}

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

std::unique_ptr<RowWriter> make_row_writer(PictureFormat format, FILE* stream, int64_t width,
                                           int64_t height, int32_t channels,
                                           const kavel_output::PngOptions& png,
                                           std::string* error) {
    if (format != PictureFormat::raw && channels != 1 && channels != 3) {
        *error = std::string(format == PictureFormat::png ? "PNG" : "PGM/PPM") +
                 " output needs 1 or 3 planes; this image has " + std::to_string(channels) +
                 " (use .raw)";
        return nullptr;
    }
    switch (format) {
        case PictureFormat::raw:
            return std::make_unique<RawWriter>(stream);
        case PictureFormat::pnm:
            if (std::fprintf(stream, "P%c\n%lld %lld\n255\n", channels == 1 ? '5' : '6',
                             static_cast<long long>(width), static_cast<long long>(height)) < 0) {
                *error = "cannot write the output";
                return nullptr;
            }
            return std::make_unique<RawWriter>(stream);
        case PictureFormat::png: {
            if (width > 0x7FFFFFFF || height > 0x7FFFFFFF) {
                *error = "a PNG holds at most 2147483647 rows and columns (use .raw)";
                return nullptr;
            }
            auto writer = std::make_unique<PngWriter>(stream, uint32_t(width), uint32_t(height),
                                                      channels, png);
            if (!writer->start(error)) return nullptr;
            return writer;
        }
    }
    return nullptr;
}
