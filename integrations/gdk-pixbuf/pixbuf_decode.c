#include "pixbuf_decode.h"

#include <string.h>

/* Windows of at least this many pixels are decoded on several threads. */
#define PIXBUF_THREADED_PIXELS (1 << 20)
#define PIXBUF_MAX_THREADS 4
/* The largest pixbuf the loader makes: 16384 x 16384 pixels (768 MiB). A header may claim any
 * size up to 2^31 - 1 square in a few bytes; larger images are still shown at smaller sizes
 * (thumbnails, gdk_pixbuf_new_from_file_at_size). */
#define PIXBUF_MAX_PIXELS ((gint64)1 << 28)

void pixbuf_set_kavel_error(GError** error, kavel_status status) {
    int code = GDK_PIXBUF_ERROR_CORRUPT_IMAGE;
    switch (status) {
        case KAVEL_ERROR_IO:
        case KAVEL_ERROR_SOURCE_CHANGED:
            code = GDK_PIXBUF_ERROR_FAILED;
            break;
        case KAVEL_ERROR_OUT_OF_MEMORY:
        case KAVEL_ERROR_LIMIT:
            code = GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY;
            break;
        default:
            break;
    }
    const char* reason = kavel_last_error();
    if (reason == NULL || reason[0] == '\0') reason = kavel_status_string(status);
    g_set_error(error, GDK_PIXBUF_ERROR, code, "Kavel image: %s", reason);
}

gboolean pixbuf_choose_scale(kavel_image* image, GdkPixbufModuleSizeFunc size_func,
                             gpointer user_data, int* scale, GError** error) {
    kavel_info info;
    const kavel_status status = kavel_get_info(image, &info);
    if (status != KAVEL_OK) {
        pixbuf_set_kavel_error(error, status);
        return FALSE;
    }
    if (info.planes != 1 && info.planes != 3) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_UNKNOWN_TYPE,
                    "Kavel image: images of %d planes cannot be shown (only grey and colour)",
                    (int)info.planes);
        return FALSE;
    }
    gint width = info.width;
    gint height = info.height;
    if (size_func != NULL) size_func(&width, &height, user_data);
    if (width <= 0 || height <= 0) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED,
                            "Kavel image: no pixels were asked for");
        return FALSE;
    }
    *scale = kavel_scale_for_size(image, width, height);
    return TRUE;
}

/* Spreads the grey bytes at the start of each row over the row's red, green and blue, from the
 * right so that no grey byte is overwritten before it is read (pixel i moves to 3i >= i). */
static void spread_grey_rows(guint8* pixels, int width, int height, int rowstride) {
    for (int y = 0; y < height; ++y) {
        guint8* row = pixels + (gsize)y * (gsize)rowstride;
        for (int x = width - 1; x >= 0; --x) {
            const guint8 grey = row[x];
            row[3 * x] = grey;
            row[3 * x + 1] = grey;
            row[3 * x + 2] = grey;
        }
    }
}

GdkPixbuf* pixbuf_decode_at_scale(kavel_image* image, int scale, GError** error) {
    kavel_info info;
    int32_t width = 0;
    int32_t height = 0;
    kavel_status status = kavel_get_info(image, &info);
    if (status == KAVEL_OK) status = kavel_size_at(image, scale, &width, &height);
    if (status != KAVEL_OK) {
        pixbuf_set_kavel_error(error, status);
        return NULL;
    }
    if ((gint64)width * height > PIXBUF_MAX_PIXELS) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "Kavel image: %d x %d pixels are more than the loader makes at once "
                    "(%" G_GINT64_FORMAT " pixels); ask for a smaller size",
                    (int)width, (int)height, PIXBUF_MAX_PIXELS);
        return NULL;
    }
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
    if (pixbuf == NULL) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                    "Kavel image: not enough memory for %d x %d pixels", (int)width, (int)height);
        return NULL;
    }
    guint8* pixels = gdk_pixbuf_get_pixels(pixbuf);
    const int rowstride = gdk_pixbuf_get_rowstride(pixbuf);

    kavel_decode_options options;
    memset(&options, 0, sizeof options);
    options.struct_size = sizeof options;
    options.threads = 1;
    if ((gint64)width * height >= PIXBUF_THREADED_PIXELS) {
        options.threads = (int32_t)MIN(g_get_num_processors(), PIXBUF_MAX_THREADS);
    }
    const kavel_window whole = {0, 0, width - 1, height - 1};
    /* Grey rows are decoded into the start of the pixbuf's rows and spread afterwards. */
    status = kavel_decode(image, scale, whole, pixels, (size_t)rowstride, &options);
    if (status != KAVEL_OK) {
        pixbuf_set_kavel_error(error, status);
        g_object_unref(pixbuf);
        return NULL;
    }
    if (info.planes == 1) spread_grey_rows(pixels, width, height, rowstride);
    return pixbuf;
}
