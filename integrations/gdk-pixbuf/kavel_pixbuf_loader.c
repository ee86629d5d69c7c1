/* libpixbufloader-kavel: Kavel images in gdk-pixbuf, so that every GTK application and the
 * file managers' thumbnailer (gdk-pixbuf-thumbnailer) open them.
 *
 * Two ways in:
 *   - a whole file (gdk_pixbuf_new_from_file): the library reads the file through its
 *     descriptor, only the parts it needs, and the image is decoded at full size;
 *   - fed data (GdkPixbufLoader, gdk_pixbuf_new_from_file_at_size, the thumbnailer): the bytes
 *     are held in a spool until the last one has arrived, then decoded from memory at the
 *     coarsest scale at least as large as the size the application asks for in size-prepared.
 *     The size is asked as soon as the header has arrived, so that gdk_pixbuf_get_file_info
 *     stops reading there.
 *
 * Small pictures (thumbnails, previews) need only the coarse scales, which a Kavel file keeps
 * near its start: for those the loader tries to decode from the bytes that have arrived, each
 * time their count has doubled, and once that works it keeps no more of the file (a 256-pixel
 * thumbnail of a 57 MB file needs its first 200 KB or so). */
#define _GNU_SOURCE
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "byte_spool.h"
#include "pixbuf_decode.h"

/* Bytes enough for the library to read the header: the size is asked once this many have
 * arrived (or at the end of a shorter file). */
#define LOADER_HEAD_BYTES 4096

/* Pictures of at most this many pixels are decoded early, from the first bytes, when they can
 * be: first from 128 KiB, then each time the bytes that have arrived have doubled. A try counts
 * only if the library read nothing within EARLY_MARGIN_BYTES of the end of what has arrived:
 * then it cannot have been cut short by that end, and it read the very bytes a decode of the
 * whole file reads. */
#define EARLY_MAX_PIXELS ((gint64)1 << 19)
#define EARLY_FIRST_BYTES ((gsize)128 * 1024)
#define EARLY_MARGIN_BYTES ((guint64)64 * 1024)

typedef struct LoadContext {
    GdkPixbufModuleSizeFunc size_func;
    GdkPixbufModulePreparedFunc prepared_func;
    GdkPixbufModuleUpdatedFunc updated_func;
    gpointer user_data;
    ByteSpool spool;
    guint8 head[LOADER_HEAD_BYTES]; /* the first bytes, for reading the header early */
    gsize head_length;
    gboolean scale_chosen; /* the application has been asked for its size */
    int scale;
    gboolean failed;  /* an increment failed: stop_load only cleans up */
    gsize early_at;   /* the next early try when this many bytes have arrived; 0: none */
    GdkPixbuf* early; /* the picture, decoded early: later bytes are not kept */
} LoadContext;

/* --- the whole file, read through its descriptor --------------------------------------------- */

static int64_t read_file_at(void* context, uint64_t offset, void* buffer, size_t length) {
    return read_descriptor_at(*(const int*)context, offset, buffer, length);
}

/* Decodes image at the scale the application wants (size_func may be NULL: full size). */
static GdkPixbuf* decode_as_asked(kavel_image* image, GdkPixbufModuleSizeFunc size_func,
                                  gpointer user_data, GError** error) {
    int scale = 0;
    if (!pixbuf_choose_scale(image, size_func, user_data, &scale, error)) return NULL;
    return pixbuf_decode_at_scale(image, scale, error);
}

/* Opens the spooled bytes and decodes them at scale, or when scale is negative at the scale the
 * application asks for now (size_func may be NULL: full size). */
static GdkPixbuf* decode_spooled(ByteSpool* spool, int scale, GdkPixbufModuleSizeFunc size_func,
                                 gpointer user_data, GError** error) {
    const guint8* bytes = NULL;
    gsize size = 0;
    if (!byte_spool_view(spool, &bytes, &size, error)) return NULL;
    kavel_image* image = NULL;
    const kavel_status status = kavel_open_memory(bytes, size, &image);
    if (status != KAVEL_OK) {
        pixbuf_set_kavel_error(error, status);
        return NULL;
    }
    GdkPixbuf* pixbuf = scale >= 0 ? pixbuf_decode_at_scale(image, scale, error)
                                   : decode_as_asked(image, size_func, user_data, error);
    kavel_close(image);
    return pixbuf;
}

static GdkPixbuf* load_file(FILE* file, GError** error) {
    int fd = fileno(file);
    struct stat file_stat;
    if (fd >= 0 && fstat(fd, &file_stat) == 0 && S_ISREG(file_stat.st_mode)) {
        kavel_reader reader;
        memset(&reader, 0, sizeof reader);
        reader.context = &fd;
        reader.read_at = read_file_at;
        reader.size = (uint64_t)file_stat.st_size;
        kavel_image* image = NULL;
        const kavel_status status = kavel_open_reader(&reader, &image);
        if (status != KAVEL_OK) {
            pixbuf_set_kavel_error(error, status);
            return NULL;
        }
        GdkPixbuf* pixbuf = decode_as_asked(image, NULL, NULL, error);
        kavel_close(image);
        return pixbuf;
    }
    /* A stream that cannot be read at offsets (a pipe): take it whole. */
    ByteSpool spool;
    if (!byte_spool_init(&spool, error)) return NULL;
    guint8 buffer[65536];
    size_t got;
    gboolean stored = TRUE;
    while (stored && (got = fread(buffer, 1, sizeof buffer, file)) > 0) {
        stored = byte_spool_append(&spool, buffer, got, error);
    }
    GdkPixbuf* pixbuf = NULL;
    if (stored && ferror(file)) {
        g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED,
                    "Kavel image: cannot read the file: %s", g_strerror(errno));
    } else if (stored) {
        pixbuf = decode_spooled(&spool, -1, NULL, NULL, error);
    }
    byte_spool_clear(&spool);
    return pixbuf;
}

/* --- fed data -----------------------------------------------------------------------------------
 */

static gpointer begin_load(GdkPixbufModuleSizeFunc size_func,
                           GdkPixbufModulePreparedFunc prepared_func,
                           GdkPixbufModuleUpdatedFunc updated_func, gpointer user_data,
                           GError** error) {
    LoadContext* context = g_try_new0(LoadContext, 1);
    if (context == NULL) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                            "Kavel image: not enough memory to start loading");
        return NULL;
    }
    context->size_func = size_func;
    context->prepared_func = prepared_func;
    context->updated_func = updated_func;
    context->user_data = user_data;
    if (!byte_spool_init(&context->spool, error)) {
        g_free(context);
        return NULL;
    }
    return context;
}

/* Reads the header from the first bytes and asks the application for its size. FALSE (with
 * error set) when the bytes are not a Kavel image or the application wants no pixels. While the
 * first bytes do not make a header the library accepts for another reason, returns TRUE: the
 * whole file will tell. */
static gboolean choose_scale_from_head(LoadContext* context, GError** error) {
    kavel_image* image = NULL;
    const kavel_status status = kavel_open_memory(context->head, context->head_length, &image);
    if (status != KAVEL_OK) {
        if (status != KAVEL_ERROR_NOT_KAVEL) return TRUE;
        pixbuf_set_kavel_error(error, status);
        return FALSE;
    }
    const gboolean chosen =
        pixbuf_choose_scale(image, context->size_func, context->user_data, &context->scale, error);
    int32_t width = 0;
    int32_t height = 0;
    if (chosen && kavel_size_at(image, context->scale, &width, &height) == KAVEL_OK &&
        (gint64)width * height <= EARLY_MAX_PIXELS) {
        context->early_at = EARLY_FIRST_BYTES;
    }
    kavel_close(image);
    context->scale_chosen = chosen;
    return chosen;
}

/* The bytes that have arrived, as the library's source; notes reads near their end. */
typedef struct ArrivedBytes {
    const ByteSpool* spool;
    gsize length;
    gboolean near_end;
} ArrivedBytes;

static int64_t read_arrived_at(void* context, uint64_t offset, void* buffer, size_t length) {
    ArrivedBytes* arrived = context;
    if (offset >= arrived->length || length > arrived->length - offset ||
        arrived->length - offset - length < EARLY_MARGIN_BYTES) {
        arrived->near_end = TRUE;
    }
    if (offset >= arrived->length) return 0;
    const gsize count = MIN((gsize)length, arrived->length - (gsize)offset);
    if (!byte_spool_read_at(arrived->spool, (gsize)offset, buffer, count)) return -1;
    return (int64_t)count;
}

/* Tries to decode the picture from the bytes that have arrived (on this thread only: the
 * pictures tried are under the loader's threading size). */
static void try_early_decode(LoadContext* context) {
    ArrivedBytes arrived = {&context->spool, context->spool.size, FALSE};
    kavel_reader reader;
    memset(&reader, 0, sizeof reader);
    reader.context = &arrived;
    reader.read_at = read_arrived_at;
    reader.size = arrived.length;
    kavel_image* image = NULL;
    if (kavel_open_reader(&reader, &image) != KAVEL_OK) return;
    GdkPixbuf* pixbuf = pixbuf_decode_at_scale(image, context->scale, NULL);
    kavel_close(image);
    if (pixbuf != NULL && !arrived.near_end) {
        context->early = pixbuf;
    } else if (pixbuf != NULL) {
        g_object_unref(pixbuf);
    }
}

static gboolean load_increment(gpointer data, const guchar* bytes, guint size, GError** error) {
    LoadContext* context = data;
    if (context->failed) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED,
                            "Kavel image: loading has already failed");
        return FALSE;
    }
    if (context->early != NULL) return TRUE; /* decoded: the rest of the file is not needed */
    if (context->head_length < LOADER_HEAD_BYTES) {
        const gsize take = MIN((gsize)size, LOADER_HEAD_BYTES - context->head_length);
        memcpy(context->head + context->head_length, bytes, take);
        context->head_length += take;
    }
    gboolean loading = byte_spool_append(&context->spool, bytes, size, error);
    if (loading && !context->scale_chosen && context->head_length == LOADER_HEAD_BYTES) {
        loading = choose_scale_from_head(context, error);
    }
    if (loading && context->early_at != 0 && context->spool.size >= context->early_at) {
        try_early_decode(context);
        if (context->early != NULL) byte_spool_clear(&context->spool);
        context->early_at = context->early != NULL ? 0 : context->spool.size * 2;
    }
    context->failed = !loading;
    return loading;
}

static gboolean stop_load(gpointer data, GError** error) {
    LoadContext* context = data;
    GdkPixbuf* pixbuf = NULL;
    if (context->failed) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED,
                            "Kavel image: loading has already failed");
    } else if (context->early != NULL) {
        pixbuf = context->early;
    } else {
        pixbuf = decode_spooled(&context->spool, context->scale_chosen ? context->scale : -1,
                                context->size_func, context->user_data, error);
    }
    byte_spool_clear(&context->spool);
    if (pixbuf != NULL) {
        if (context->prepared_func != NULL) {
            context->prepared_func(pixbuf, NULL, context->user_data);
        }
        if (context->updated_func != NULL) {
            context->updated_func(pixbuf, 0, 0, gdk_pixbuf_get_width(pixbuf),
                                  gdk_pixbuf_get_height(pixbuf), context->user_data);
        }
        g_object_unref(pixbuf);
    }
    g_free(context);
    return pixbuf != NULL;
}

/* --- the module's two exports ---------------------------------------------------------------- */

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module);
G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info);

G_MODULE_EXPORT void fill_vtable(GdkPixbufModule* module) {
    module->load = load_file;
    module->begin_load = begin_load;
    module->load_increment = load_increment;
    module->stop_load = stop_load;
}

G_MODULE_EXPORT void fill_info(GdkPixbufFormat* info) {
    /* Every Kavel file starts with the four bytes "kvel". */
    static GdkPixbufModulePattern signature[] = {{"kvel", NULL, 100}, {NULL, NULL, 0}};
    static gchar* mime_types[] = {"image/x-kavel", NULL};
    static gchar* extensions[] = {"kvl", NULL};
    info->name = "kavel";
    info->signature = signature;
    info->description = "Kavel multiresolution image";
    info->mime_types = mime_types;
    info->extensions = extensions;
    info->flags = GDK_PIXBUF_FORMAT_THREADSAFE;
}
