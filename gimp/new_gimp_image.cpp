#include "gimp/new_gimp_image.h"

NewGimpImage::NewGimpImage(int32_t width, int32_t height, int32_t planes, const char* filename) {
    image_ = gimp_image_new(width, height, planes == 3 ? GIMP_RGB : GIMP_GRAY);
    if (image_ == -1) return;
    gimp_image_set_filename(image_, filename);
    gchar* name = g_path_get_basename(filename);
    const gint32 layer =
        gimp_layer_new(image_, name, width, height, planes == 3 ? GIMP_RGB_IMAGE : GIMP_GRAY_IMAGE,
                       100.0, GIMP_LAYER_MODE_NORMAL);
    g_free(name);
    if (layer == -1 || !gimp_image_insert_layer(image_, layer, -1, 0)) return;
    drawable_ = gimp_drawable_get(layer);
    gimp_pixel_rgn_init(&region_, drawable_, 0, 0, width, height, TRUE, FALSE);
}

NewGimpImage::~NewGimpImage() {
    if (drawable_ != nullptr) gimp_drawable_detach(drawable_);
    if (image_ != -1) gimp_image_delete(image_);
}

void NewGimpImage::WriteRows(int32_t top, int32_t rows, const uint8_t* pixels) {
    gimp_pixel_rgn_set_rect(&region_, pixels, 0, top, static_cast<gint>(drawable_->width), rows);
}

gint32 NewGimpImage::Release() {
    if (drawable_ != nullptr) {
        gimp_drawable_flush(drawable_);
        gimp_drawable_detach(drawable_);
        drawable_ = nullptr;
    }
    const gint32 image = image_;
    image_ = -1;
    return image;
}
