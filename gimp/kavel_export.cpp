#include "gimp/kavel_export.h"

#include <string>
#include <utility>

#include "encode/encoder.h"
#include "encode/kavel_writer.h"
#include "gimp/plugin_error.h"

namespace {

void SetError(GError** error, const char* filename, const std::string& reason) {
    SetFileError(error, "export", filename, reason.c_str());
}

}  // namespace

bool ExportDrawable(gint32 drawable, const char* filename, const ExportSettings& settings,
                    GError** error) {
    kavel::Picture picture;
    picture.width = gimp_drawable_width(drawable);
    picture.height = gimp_drawable_height(drawable);
    picture.channels = gimp_drawable_is_gray(drawable) ? 1 : 3;
    const double quality = settings.quality == 0.0 ? ExportSettings{}.quality : settings.quality;
    if (!(quality >= 1.0 && quality <= 100.0)) {
        SetError(error, filename, "the quality must lie between 1 and 100");
        return false;
    }
    const int32_t most = kavel::max_level_count(picture.width, picture.height);
    if (settings.levels > most) {
        SetError(error, filename,
                 "a " + std::to_string(picture.width) + " x " + std::to_string(picture.height) +
                     " picture takes at most " + std::to_string(most) + " levels, not " +
                     std::to_string(settings.levels));
        return false;
    }
    try {
        picture.samples.resize(size_t(picture.width) * size_t(picture.height) *
                               size_t(picture.channels));
    } catch (const std::bad_alloc&) {
        SetError(error, filename, "out of memory");
        return false;
    }
    // GEGL reads every kind of drawable (high bit depth, indexed) as 8-bit grey or RGB.
    gegl_init(nullptr, nullptr);
    GeglBuffer* buffer = gimp_drawable_get_buffer(drawable);
    gegl_buffer_get(buffer, GEGL_RECTANGLE(0, 0, picture.width, picture.height), 1.0,
                    babl_format(picture.channels == 3 ? "R'G'B' u8" : "Y' u8"),
                    picture.samples.data(), GEGL_AUTO_ROWSTRIDE, GEGL_ABYSS_NONE);
    g_object_unref(buffer);

    kavel::EncoderOptions options;
    options.mode = kavel::RateMode::quality;
    options.quality = quality;
    options.levels = settings.levels > 0 ? settings.levels : -1;
    gimp_progress_init_printf("Exporting '%s'", gimp_filename_to_utf8(filename));
    kavel::EncodeResult result;
    std::string reason;
    if (!kavel::encode_picture(std::move(picture), options, &result, &reason) ||
        !kavel::write_kavel_file(result.file, filename, &reason)) {
        SetError(error, filename, reason);
        return false;
    }
    gimp_progress_update(1.0);
    return true;
}
