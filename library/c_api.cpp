// The C interface: opening a source, the header and sizes, limits, and the decode.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "format/byte_source.h"
#include "format/window_decode.h"
#include "kavel/kavel.h"
#include "library/image_handle.h"
#include "library/last_error.h"
#include "library/reader_source.h"

namespace {

constexpr uint64_t kDefaultMemory = uint64_t{4} << 30;
constexpr double kDefaultWorkFactor = DecodeContext::kDefaultWorkFactor;

kavel_status status_of(DecodeStatus status) { return static_cast<kavel_status>(status); }

kavel_status argument_error(const char* message) {
    return set_last_error(KAVEL_ERROR_ARGUMENT, message);
}

// Reads the header of a new source and makes the image; the source is closed on failure.
kavel_status open_source(std::unique_ptr<ByteSource> source, kavel_image** image) {
    ImageHeader header{};
    std::string message;
    const DecodeStatus read = read_source_header(*source, &header, &message);
    if (read != DecodeStatus::ok) return set_last_error(status_of(read), message);
    auto* opened = new (std::nothrow) kavel_image{std::move(source), header, {}};
    if (opened == nullptr) return set_last_error(KAVEL_ERROR_OUT_OF_MEMORY, "out of memory");
    kavel_default_limits(&opened->limits);
    *image = opened;
    return KAVEL_OK;
}

}  // namespace

extern "C" {

const char* kavel_version(void) { return "1.0.0"; }

kavel_status kavel_open_path(const char* path, kavel_image** image) {
    if (image == nullptr) return argument_error("no place for the image handle");
    *image = nullptr;
    if (path == nullptr) return argument_error("no path");
    try {
        int number = 0;
        std::unique_ptr<ByteSource> source = open_file_source(path, &number);
        if (source == nullptr) {
            return set_last_error(number == ENOMEM ? KAVEL_ERROR_OUT_OF_MEMORY : KAVEL_ERROR_IO,
                                  std::string(path) + ": " + std::strerror(number));
        }
        const kavel_status status = open_source(std::move(source), image);
        if (status != KAVEL_OK) {
            set_last_error(status, std::string(path) + ": " + kavel_last_error());
        }
        return status;
    } catch (const std::bad_alloc&) {
        return set_last_error(KAVEL_ERROR_OUT_OF_MEMORY, "out of memory");
    }
}

kavel_status kavel_open_memory(const void* data, size_t size, kavel_image** image) {
    if (image == nullptr) return argument_error("no place for the image handle");
    *image = nullptr;
    if (data == nullptr && size > 0) return argument_error("no data");
    try {
        std::unique_ptr<ByteSource> source = make_memory_source(data, size);
        if (source == nullptr) return set_last_error(KAVEL_ERROR_OUT_OF_MEMORY, "out of memory");
        return open_source(std::move(source), image);
    } catch (const std::bad_alloc&) {
        return set_last_error(KAVEL_ERROR_OUT_OF_MEMORY, "out of memory");
    }
}

kavel_status kavel_open_reader(const kavel_reader* reader, kavel_image** image) {
    if (image == nullptr) return argument_error("no place for the image handle");
    *image = nullptr;
    if (reader == nullptr || reader->read_at == nullptr) {
        return argument_error("the reader has no read_at");
    }
    // From here on the reader is the library's: a failure closes it too, once.
    try {
        std::unique_ptr<ByteSource> source = make_reader_source(*reader);
        if (source == nullptr) {
            if (reader->close != nullptr) reader->close(reader->context);
            return set_last_error(KAVEL_ERROR_OUT_OF_MEMORY, "out of memory");
        }
        return open_source(std::move(source), image);
    } catch (const std::bad_alloc&) {
        return set_last_error(KAVEL_ERROR_OUT_OF_MEMORY, "out of memory");
    }
}

void kavel_close(kavel_image* image) { delete image; }

kavel_status kavel_get_info(const kavel_image* image, kavel_info* info) {
    if (image == nullptr || info == nullptr) return argument_error("no image or no info");
    *info = kavel_info{image->header.planes, image->header.levels, image->header.width,
                       image->header.height};
    return KAVEL_OK;
}

kavel_status kavel_size_at(const kavel_image* image, int32_t scale, int32_t* width,
                           int32_t* height) {
    if (image == nullptr || width == nullptr || height == nullptr) {
        return argument_error("no image or no place for the size");
    }
    if (scale < 0 || scale > image->header.levels) {
        return set_last_error(KAVEL_ERROR_ARGUMENT,
                              "scale " + std::to_string(scale) + " is not present (0.." +
                                  std::to_string(image->header.levels) + ")");
    }
    *width = size_at_scale(image->header.width, scale);
    *height = size_at_scale(image->header.height, scale);
    return KAVEL_OK;
}

int32_t kavel_scale_for_size(const kavel_image* image, int32_t width, int32_t height) {
    if (image == nullptr) return 0;
    for (int32_t scale = image->header.levels; scale > 0; --scale) {
        if (size_at_scale(image->header.width, scale) >= width &&
            size_at_scale(image->header.height, scale) >= height) {
            return scale;
        }
    }
    return 0;
}

void kavel_default_limits(kavel_limits* limits) {
    if (limits == nullptr) return;
    *limits = kavel_limits{kDefaultMemory, kDefaultWorkFactor, 0};
}

kavel_status kavel_get_limits(const kavel_image* image, kavel_limits* limits) {
    if (image == nullptr || limits == nullptr) return argument_error("no image or no limits");
    *limits = image->limits;
    return KAVEL_OK;
}

kavel_status kavel_set_limits(kavel_image* image, const kavel_limits* limits) {
    if (image == nullptr || limits == nullptr) return argument_error("no image or no limits");
    if (!std::isfinite(limits->work_factor) || limits->work_factor < 0) {
        return argument_error("the work factor must be a finite number of 0 or more");
    }
    kavel_limits set = *limits;
    if (set.memory == 0) set.memory = kDefaultMemory;
    if (set.work_factor == 0) set.work_factor = kDefaultWorkFactor;
    image->limits = set;
    return KAVEL_OK;
}

kavel_status kavel_decode(kavel_image* image, int32_t scale, kavel_window window, uint8_t* buffer,
                          size_t stride, const kavel_decode_options* options) {
    if (image == nullptr) return argument_error("no image");
    if (buffer == nullptr) return argument_error("no buffer");
    WindowDecodeSettings settings;
    if (options != nullptr) {
        if (options->struct_size < sizeof(uint32_t) + sizeof(int32_t)) {
            return argument_error("the options' struct_size is too small");
        }
        if (options->threads < 0) return argument_error("a negative thread count");
        settings.threads = options->threads;
    }
    settings.max_pixels = image->limits.max_pixels;
    settings.memory = image->limits.memory;
    settings.work_factor = image->limits.work_factor;
    try {
        std::string message;
        const DecodeStatus status =
            decode_window(*image->source, image->header, scale,
                          PixelWindow{window.x0, window.y0, window.x1, window.y1}, buffer, stride,
                          settings, &message);
        if (status != DecodeStatus::ok) return set_last_error(status_of(status), message);
        return KAVEL_OK;
    } catch (const std::bad_alloc&) {
        return set_last_error(KAVEL_ERROR_OUT_OF_MEMORY, "out of memory");
    } catch (...) {
        return set_last_error(KAVEL_ERROR_DAMAGED, "the decode failed");
    }
}

}  // extern "C"
