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
 *     stops reading there. */
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
    gboolean failed; /* an increment failed: stop_load only cleans up */
} LoadContext;

/* --- the whole file, read through its descriptor --------------------------------------------- */

static int64_t read_descriptor_at(void* context, uint64_t offset, void* buffer, size_t length) {
    const int fd = *(const int*)context;
    size_t done = 0;
    while (done < length) {
        const ssize_t got = pread(fd, (char*)buffer + done, length - done, (off_t)(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += (size_t)got;
    }
    return (int64_t)done;
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
        reader.read_at = read_descriptor_at;
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
    kavel_close(image);
    context->scale_chosen = chosen;
    return chosen;
}

static gboolean load_increment(gpointer data, const guchar* bytes, guint size, GError** error) {
    LoadContext* context = data;
    if (context->failed) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED,
                            "Kavel image: loading has already failed");
        return FALSE;
    }
    if (context->head_length < LOADER_HEAD_BYTES) {
        const gsize take = MIN((gsize)size, LOADER_HEAD_BYTES - context->head_length);
        memcpy(context->head + context->head_length, bytes, take);
        context->head_length += take;
    }
    gboolean loading = byte_spool_append(&context->spool, bytes, size, error);
    if (loading && !context->scale_chosen && context->head_length == LOADER_HEAD_BYTES) {
        loading = choose_scale_from_head(context, error);
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
