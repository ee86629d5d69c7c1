/* From an opened Kavel image to the pixbuf an application asked for.
 *
 * The loader is thin: it asks the application for the size it wants, decodes the whole image at
 * the coarsest scale 1:2^s that is still at least that large (a 256-pixel thumbnail of a
 * 16384 x 16384 file decodes 256 x 256 pixels, nothing more), and leaves any remaining
 * resampling to gdk-pixbuf, as its loaders do. Grey images become RGB pixbufs with equal
 * channels (gdk-pixbuf has no grey pixbufs). */
#ifndef KAVEL_PIXBUF_PIXBUF_DECODE_H
#define KAVEL_PIXBUF_PIXBUF_DECODE_H

#define GDK_PIXBUF_ENABLE_BACKEND
#include <gdk-pixbuf/gdk-pixbuf-io.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

#include "kavel/kavel.h"

/* Sets error from the library's last failure on this thread: "Kavel image: <reason>". */
void pixbuf_set_kavel_error(GError** error, kavel_status status);

/* Asks the application (size_func, may be NULL) for the size it wants of the image and returns
 * the scale to decode. FALSE (with error set) when the image's planes cannot
 * become a pixbuf or when the application wants no pixels (a zero size: it only wanted to know
 * the image's size). */
gboolean pixbuf_choose_scale(kavel_image* image, GdkPixbufModuleSizeFunc size_func,
                             gpointer user_data, int* scale, GError** error);

/* Decodes the whole image at scale into a new pixbuf. NULL (with error set) on any failure:
 * damaged data, no memory for the pixbuf, a limit of the image. */
GdkPixbuf* pixbuf_decode_at_scale(kavel_image* image, int scale, GError** error);

#endif
