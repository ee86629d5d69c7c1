/* Loads Kavel files through gdk-pixbuf, as applications do, and checks what comes back.
 *
 *   pixbuf_loader_check pixels FILE REF.raw WIDTH HEIGHT PLANES [ASK_W ASK_H]
 *       gdk_pixbuf_new_from_file (or gdk_pixbuf_new_from_file_at_size when ASK_W ASK_H are given),
 *       and a GdkPixbufLoader fed 997 bytes at a time: both give WIDTH x HEIGHT pixels equal to
 *       REF.raw (`kavel decode` output: PLANES bytes per pixel, grey spread over red, green
 *       and blue).
 *   pixbuf_loader_check resampled FILE REF.raw WIDTH HEIGHT PLANES ASK_W ASK_H
 *       gdk_pixbuf_new_from_file_at_size gives ASK_W x ASK_H pixels: REF.raw (WIDTH x HEIGHT,
 *       the coarsest scale at least that large) resampled by gdk-pixbuf, to within a level or two
 *       per sample.
 *   pixbuf_loader_check info FILE WIDTH HEIGHT
 *       gdk_pixbuf_get_file_info names the format "kavel" and the full size.
 *   pixbuf_loader_check damaged FILE...
 *       loading at full size (from the file, fed) gives NULL and a GError with a message; smaller
 *       sizes give a pixbuf or a GError; nothing crashes.
 *   pixbuf_loader_check survives FILE...
 *       every way of loading gives a pixbuf or a GError (hostile files).
 *
 * Exit status 0 when every check holds; otherwise the failures are printed. */
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int failures = 0;

static void fail(const char* file, const char* what) {
    fprintf(stderr, "FAIL %s: %s\n", file, what);
    ++failures;
}

static guint8* read_reference(const char* path, gsize expected) {
    gchar* bytes = NULL;
    gsize length = 0;
    if (!g_file_get_contents(path, &bytes, &length, NULL) || length != expected) {
        fprintf(stderr, "FAIL %s: cannot read %lu reference bytes\n", path,
                (unsigned long)expected);
        exit(1);
    }
    return (guint8*)bytes;
}

/* The largest difference between a pixbuf's samples and the reference, or -1 when the sizes or
 * layouts differ. */
static int largest_difference(GdkPixbuf* pixbuf, const guint8* reference, int width, int height,
                              int planes) {
    if (gdk_pixbuf_get_width(pixbuf) != width || gdk_pixbuf_get_height(pixbuf) != height ||
        gdk_pixbuf_get_n_channels(pixbuf) != 3 || gdk_pixbuf_get_has_alpha(pixbuf)) {
        return -1;
    }
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
    const int rowstride = gdk_pixbuf_get_rowstride(pixbuf);
    int largest = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                const int expected =
                    reference[((gsize)y * width + x) * planes + (planes == 3 ? c : 0)];
                const int got = pixels[(gsize)y * rowstride + (gsize)x * 3 + c];
                const int difference = abs(expected - got);
                if (difference > largest) largest = difference;
            }
        }
    }
    return largest;
}

static void expect_pixels(const char* file, const char* how, GdkPixbuf* pixbuf, GError* error,
                          const guint8* reference, int width, int height, int planes,
                          int tolerance) {
    char what[256];
    if (pixbuf == NULL) {
        snprintf(what, sizeof what, "%s failed: %s", how, error ? error->message : "(no GError)");
        fail(file, what);
        g_clear_error(&error);
        return;
    }
    const int difference = largest_difference(pixbuf, reference, width, height, planes);
    if (difference < 0) {
        snprintf(what, sizeof what, "%s gave %d x %d (%d channels), expected %d x %d RGB", how,
                 gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf),
                 gdk_pixbuf_get_n_channels(pixbuf), width, height);
        fail(file, what);
    } else if (difference > tolerance) {
        snprintf(what, sizeof what, "%s: samples differ by up to %d (allowed %d)", how, difference,
                 tolerance);
        fail(file, what);
    }
    g_object_unref(pixbuf);
}

typedef struct {
    int ask_width, ask_height;
} AskedSize;

static void on_size_prepared(GdkPixbufLoader* loader, int width, int height, gpointer data) {
    const AskedSize* asked = data;
    (void)width;
    (void)height;
    if (asked->ask_width > 0)
        gdk_pixbuf_loader_set_size(loader, asked->ask_width, asked->ask_height);
}

/* A GdkPixbufLoader fed the file in pieces of `piece` bytes; NULL with *error on failure. */
static GdkPixbuf* load_in_pieces(const char* file, gsize piece, const AskedSize* asked,
                                 GError** error) {
    gchar* bytes = NULL;
    gsize length = 0;
    if (!g_file_get_contents(file, &bytes, &length, error)) return NULL;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    g_signal_connect(loader, "size-prepared", G_CALLBACK(on_size_prepared), (gpointer)asked);
    gboolean written = TRUE;
    for (gsize at = 0; written && at < length; at += piece) {
        written = gdk_pixbuf_loader_write(loader, (const guchar*)bytes + at,
                                          MIN(piece, length - at), error);
    }
    const gboolean closed = gdk_pixbuf_loader_close(loader, written ? error : NULL);
    GdkPixbuf* pixbuf = NULL;
    if (written && closed) {
        pixbuf = gdk_pixbuf_loader_get_pixbuf(loader);
        if (pixbuf != NULL) g_object_ref(pixbuf);
    }
    if (written && closed && pixbuf == NULL) {
        g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_FAILED, "no pixbuf");
    }
    g_object_unref(loader);
    g_free(bytes);
    return pixbuf;
}

static int check_pixels(char** argv, int argc, int tolerance) {
    const char* file = argv[0];
    const int width = atoi(argv[2]), height = atoi(argv[3]), planes = atoi(argv[4]);
    AskedSize asked = {0, 0};
    if (argc >= 7) asked = (AskedSize){atoi(argv[5]), atoi(argv[6])};
    guint8* reference = read_reference(argv[1], (gsize)width * height * planes);
    const int out_width = asked.ask_width > 0 ? asked.ask_width : width;
    const int out_height = asked.ask_width > 0 ? asked.ask_height : height;
    GError* error = NULL;
    GdkPixbuf* pixbuf = asked.ask_width > 0 ? gdk_pixbuf_new_from_file_at_size(
                                                  file, asked.ask_width, asked.ask_height, &error)
                                            : gdk_pixbuf_new_from_file(file, &error);
    if (tolerance == 0) {
        expect_pixels(
            file,
            asked.ask_width > 0 ? "gdk_pixbuf_new_from_file_at_size" : "gdk_pixbuf_new_from_file",
            pixbuf, error, reference, width, height, planes, 0);
        error = NULL;
        pixbuf = load_in_pieces(file, 997, &asked, &error);
        expect_pixels(file, "GdkPixbufLoader fed 997 bytes at a time", pixbuf, error, reference,
                      width, height, planes, 0);
    } else if (pixbuf == NULL) {
        expect_pixels(file, "gdk_pixbuf_new_from_file_at_size", pixbuf, error, NULL, 0, 0, 3, 0);
    } else {
        /* gdk-pixbuf keeps the aspect ratio inside the size asked: the reference resampled the
         * way GdkPixbufLoader resamples what a loader gives, to the size it gave. */
        const int got_width = gdk_pixbuf_get_width(pixbuf);
        const int got_height = gdk_pixbuf_get_height(pixbuf);
        if (got_width > out_width || got_height > out_height ||
            (got_width != out_width && got_height != out_height)) {
            fail(file, "gdk_pixbuf_new_from_file_at_size gave a size that does not fit the box");
        }
        GdkPixbuf* whole = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, width, height);
        guint8* pixels = gdk_pixbuf_get_pixels(whole);
        const int rowstride = gdk_pixbuf_get_rowstride(whole);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int c = 0; c < 3; ++c) {
                    pixels[(gsize)y * rowstride + (gsize)x * 3 + c] =
                        reference[((gsize)y * width + x) * planes + (planes == 3 ? c : 0)];
                }
            }
        }
        GdkPixbuf* scaled =
            gdk_pixbuf_scale_simple(whole, got_width, got_height, GDK_INTERP_BILINEAR);
        guint8* expected = g_malloc((gsize)got_width * got_height * 3);
        for (int y = 0; y < got_height; ++y) {
            memcpy(expected + (gsize)y * got_width * 3,
                   gdk_pixbuf_read_pixels(scaled) + (gsize)y * gdk_pixbuf_get_rowstride(scaled),
                   (gsize)got_width * 3);
        }
        expect_pixels(file, "gdk_pixbuf_new_from_file_at_size", pixbuf, error, expected, got_width,
                      got_height, 3, tolerance);
        g_free(expected);
        g_object_unref(scaled);
        g_object_unref(whole);
    }
    g_free(reference);
    return failures == 0 ? 0 : 1;
}

static int check_info(char** argv) {
    int width = 0, height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(argv[0], &width, &height);
    if (format == NULL) {
        fail(argv[0], "gdk_pixbuf_get_file_info found no format");
        return 1;
    }
    gchar* name = gdk_pixbuf_format_get_name(format);
    if (strcmp(name, "kavel") != 0 || width != atoi(argv[1]) || height != atoi(argv[2])) {
        char what[256];
        snprintf(what, sizeof what, "gdk_pixbuf_get_file_info: %s, %d x %d", name, width, height);
        fail(argv[0], what);
    }
    g_free(name);
    return failures == 0 ? 0 : 1;
}

/* Loads file in every way: from the file and fed, at full size (ways 0 and 2) and at 64 x 64.
 * Returns how many of the full-size loads gave no pixbuf, and fails a load that gives neither a
 * pixbuf nor a GError with a message. */
static int load_every_way(const char* file) {
    int refused_full_size = 0;
    for (int way = 0; way < 4; ++way) {
        GError* error = NULL;
        const AskedSize asked = {64, 64};
        GdkPixbuf* pixbuf = way == 0   ? gdk_pixbuf_new_from_file(file, &error)
                            : way == 1 ? gdk_pixbuf_new_from_file_at_size(file, 64, 64, &error)
                            : way == 2 ? load_in_pieces(file, 4096, &(AskedSize){0, 0}, &error)
                                       : load_in_pieces(file, 100, &asked, &error);
        if (pixbuf != NULL) {
            g_object_unref(pixbuf);
            continue;
        }
        if (way == 0 || way == 2) ++refused_full_size;
        if (error == NULL || error->message == NULL || error->message[0] == '\0') {
            fail(file, "a failed load gave no GError message");
        }
        g_clear_error(&error);
    }
    return refused_full_size;
}

int main(int argc, char** argv) {
    if (argc >= 7 && strcmp(argv[1], "pixels") == 0) return check_pixels(argv + 2, argc - 2, 0);
    if (argc == 9 && strcmp(argv[1], "resampled") == 0) return check_pixels(argv + 2, argc - 2, 2);
    if (argc == 5 && strcmp(argv[1], "info") == 0) return check_info(argv + 2);
    if (argc >= 3 && (strcmp(argv[1], "damaged") == 0 || strcmp(argv[1], "survives") == 0)) {
        const gboolean must_fail = strcmp(argv[1], "damaged") == 0;
        for (int i = 2; i < argc; ++i) {
            if (load_every_way(argv[i]) != 2 && must_fail) fail(argv[i], "a damaged file loaded");
        }
        return failures == 0 ? 0 : 1;
    }
    fprintf(stderr, "usage: see the comment at the top of pixbuf_loader_check.c\n");
    return 2;
}
