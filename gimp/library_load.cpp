#include "gimp/library_load.h"

#include <libgimp/gimp.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "gimp/new_gimp_image.h"
#include "gimp/plugin_error.h"
#include "kavel/kavel.h"

namespace {

// GIMP's largest image side.
constexpr int64_t kMaxSide = GIMP_MAX_IMAGE_SIZE;
// Pixels decoded at once: strips of rows up to this many bytes.
constexpr size_t kStripBytes = size_t(64) << 20;

struct ImageCloser {
    void operator()(kavel_image* image) const { kavel_close(image); }
};
using ImageHandle = std::unique_ptr<kavel_image, ImageCloser>;

void SetError(GError** error, const char* filename, const char* reason) {
    SetFileError(error, "open", filename, reason);
}

// Opens the file and checks that GIMP can take its planes.
ImageHandle OpenImage(const char* filename, kavel_info* info, GError** error) {
    kavel_image* opened = nullptr;
    if (kavel_open_path(filename, &opened) != KAVEL_OK) {
        SetError(error, filename, kavel_last_error());
        return nullptr;
    }
    ImageHandle image(opened);
    kavel_get_info(image.get(), info);
    if (info->planes != 1 && info->planes != 3) {
        gchar* reason =
            g_strdup_printf("%d planes (grey images have 1, colour images 3)", info->planes);
        SetError(error, filename, reason);
        g_free(reason);
        return nullptr;
    }
    return image;
}

// Decodes the window into a new GIMP image, strip by strip.
gint32 DecodeIntoGimp(kavel_image* image, const char* filename, int32_t planes,
                      const ScaledWindow& window, GError** error) {
    const int32_t width = window.x1 - window.x0 + 1;
    const int32_t height = window.y1 - window.y0 + 1;
    const size_t stride = size_t(width) * size_t(planes);
    const int32_t stripRows =
        static_cast<int32_t>(std::clamp<size_t>(kStripBytes / stride, 1, size_t(height)));
    std::vector<uint8_t> strip;
    try {
        strip.assign(stride * size_t(stripRows), 0);
    } catch (const std::bad_alloc&) {
        SetError(error, filename, "out of memory");
        return -1;
    }
    NewGimpImage target(width, height, planes, filename);
    if (!target.valid()) {
        SetError(error, filename, "GIMP could not make the image");
        return -1;
    }
    kavel_decode_options options{};
    options.struct_size = sizeof options;
    options.threads = static_cast<int32_t>(std::min<guint>(g_get_num_processors(), 8));
    gimp_progress_init_printf("Opening '%s'", gimp_filename_to_utf8(filename));
    for (int32_t top = 0; top < height; top += stripRows) {
        const int32_t rows = std::min(stripRows, height - top);
        const kavel_window part{window.x0, window.y0 + top, window.x1, window.y0 + top + rows - 1};
        if (kavel_decode(image, window.scale, part, strip.data(), stride, &options) != KAVEL_OK) {
            SetError(error, filename, kavel_last_error());
            return -1;
        }
        target.WriteRows(top, rows, strip.data());
        gimp_progress_update(double(top + rows) / double(height));
    }
    gimp_progress_update(1.0);
    return target.Release();
}

}  // namespace

gint32 LoadWholeImage(const char* filename, GError** error) {
    kavel_info info{};
    ImageHandle image = OpenImage(filename, &info, error);
    if (image == nullptr) return -1;
    return DecodeIntoGimp(image.get(), filename, info.planes,
                          ScaledWindow{0, 0, 0, info.width - 1, info.height - 1}, error);
}

gint32 LoadWindow(const char* filename, const ScaledWindow& window, GError** error) {
    kavel_info info{};
    ImageHandle image = OpenImage(filename, &info, error);
    if (image == nullptr) return -1;
    if (window.scale < 0 || window.scale > info.levels) {
        gchar* reason = g_strdup_printf("scale %d is not in the file (it holds scales 0 to %d)",
                                        window.scale, info.levels);
        SetError(error, filename, reason);
        g_free(reason);
        return -1;
    }
    const int64_t width = int64_t(window.x1) - window.x0 + 1;
    const int64_t height = int64_t(window.y1) - window.y0 + 1;
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
        gchar* reason = g_strdup_printf(
            "the window %d,%d to %d,%d is empty or larger than GIMP's largest image (%d pixels "
            "on a side)",
            window.x0, window.y0, window.x1, window.y1, GIMP_MAX_IMAGE_SIZE);
        SetError(error, filename, reason);
        g_free(reason);
        return -1;
    }
    return DecodeIntoGimp(image.get(), filename, info.planes, window, error);
}

Thumbnail LoadThumbnail(const char* filename, int32_t size, GError** error) {
    Thumbnail thumbnail;
    kavel_info info{};
    ImageHandle image = OpenImage(filename, &info, error);
    if (image == nullptr) return thumbnail;
    // A thumbnail fits in size x size: the longer side decides.
    size = std::max(size, 1);
    const int32_t scale = info.width >= info.height ? kavel_scale_for_size(image.get(), size, 1)
                                                    : kavel_scale_for_size(image.get(), 1, size);
    int32_t width = 0, height = 0;
    kavel_size_at(image.get(), scale, &width, &height);
    thumbnail.image = DecodeIntoGimp(image.get(), filename, info.planes,
                                     ScaledWindow{scale, 0, 0, width - 1, height - 1}, error);
    thumbnail.width = info.width;
    thumbnail.height = info.height;
    thumbnail.planes = info.planes;
    return thumbnail;
}
