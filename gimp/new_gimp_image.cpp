#include "gimp/new_gimp_image.h"

const Babl* EightBitFormat(int32_t planes) {
    return babl_format(planes == 3 ? "R'G'B' u8" : "Y' u8");
}

NewGimpImage::NewGimpImage(int32_t width, int32_t height, int32_t planes, const char* filename)
    : format_(EightBitFormat(planes)), width_(width) {
    image_ = gimp_image_new(width, height, planes == 3 ? GIMP_RGB : GIMP_GRAY);
    if (image_ == -1) return;
    gimp_image_set_filename(image_, filename);
    gchar* name = g_path_get_basename(filename);
    const gint32 layer =
        gimp_layer_new(image_, name, width, height, planes == 3 ? GIMP_RGB_IMAGE : GIMP_GRAY_IMAGE,
                       100.0, GIMP_LAYER_MODE_NORMAL);
    g_free(name);
    if (layer == -1 || !gimp_image_insert_layer(image_, layer, -1, 0)) return;
    buffer_ = gimp_drawable_get_buffer(layer);
}

NewGimpImage::~NewGimpImage() {
    if (buffer_ != nullptr) g_object_unref(buffer_);
    if (image_ != -1) gimp_image_delete(image_);
}

void NewGimpImage::WriteRows(int32_t top, int32_t rows, const uint8_t* pixels, size_t stride) {
    gegl_buffer_set(buffer_, GEGL_RECTANGLE(0, top, width_, rows), 0, format_, pixels,
                    static_cast<gint>(stride));
}

gint32 NewGimpImage::Release() {
    if (buffer_ != nullptr) {
        gegl_buffer_flush(buffer_);
        g_object_unref(buffer_);
        buffer_ = nullptr;
    }
    const gint32 image = image_;
    image_ = -1;
    return image;
}
