#define _GNU_SOURCE
#include "byte_spool.h"

#include <errno.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

static gboolean fail_errno(GError** error, const char* what) {
    const int code = errno;
    g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                "Kavel image: cannot %s the file's bytes: %s", what, g_strerror(code));
    return FALSE;
}

gint64 read_descriptor_at(int fd, guint64 offset, void* buffer, gsize length) {
    gsize done = 0;
    while (done < length) {
        const ssize_t got =
            pread(fd, (guint8*)buffer + done, length - done, (off_t)(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        done += (gsize)got;
    }
    return (gint64)done;
}

gboolean byte_spool_init(ByteSpool* spool, GError** error) {
    spool->fd = -1;
    spool->heap = NULL;
    spool->size = 0;
    spool->map = NULL;
#ifdef MFD_CLOEXEC
    spool->fd = memfd_create("kavel-pixbuf", MFD_CLOEXEC);
#endif
    if (spool->fd < 0) {
        spool->heap = g_byte_array_new();
        if (spool->heap == NULL) return fail_errno(error, "hold");
    }
    return TRUE;
}

gboolean byte_spool_append(ByteSpool* spool, const guint8* bytes, gsize length, GError** error) {
    if (length == 0) return TRUE;
    if (spool->map != NULL || length > G_MAXSIZE - spool->size) {
        errno = EINVAL;
        return fail_errno(error, "store");
    }
    if (spool->fd < 0) {
        /* g_byte_array_append takes a guint length: append in pieces that fit. */
        gsize done = 0;
        while (done < length) {
            const gsize piece = MIN(length - done, (gsize)G_MAXUINT / 2);
            g_byte_array_append(spool->heap, bytes + done, (guint)piece);
            done += piece;
        }
        spool->size += length;
        return TRUE;
    }
    gsize done = 0;
    while (done < length) {
        const ssize_t written = write(spool->fd, bytes + done, length - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            /* Put the memory file back to its old length so that the spool is unchanged. */
            const int code = errno;
            if (ftruncate(spool->fd, (off_t)spool->size) == 0) {
                (void)lseek(spool->fd, (off_t)spool->size, SEEK_SET);
            }
            errno = written < 0 ? code : ENOSPC;
            return fail_errno(error, "store");
        }
        done += (gsize)written;
    }
    spool->size += length;
    return TRUE;
}

gboolean byte_spool_read_at(const ByteSpool* spool, gsize offset, guint8* buffer, gsize length) {
    if (offset > spool->size || length > spool->size - offset) return FALSE;
    if (length == 0) return TRUE;
    if (spool->fd < 0) {
        memcpy(buffer, spool->heap->data + offset, length);
        return TRUE;
    }
    return read_descriptor_at(spool->fd, offset, buffer, length) == (gint64)length;
}

gboolean byte_spool_view(ByteSpool* spool, const guint8** data, gsize* size, GError** error) {
    *data = NULL;
    *size = spool->size;
    if (spool->size == 0) return TRUE;
    if (spool->fd < 0) {
        *data = spool->heap->data;
        return TRUE;
    }
    if (spool->map == NULL) {
        void* map = mmap(NULL, spool->size, PROT_READ, MAP_SHARED, spool->fd, 0);
        if (map == MAP_FAILED) return fail_errno(error, "map");
        spool->map = map;
    }
    *data = spool->map;
    return TRUE;
}

void byte_spool_clear(ByteSpool* spool) {
    if (spool->map != NULL) munmap(spool->map, spool->size);
    spool->map = NULL;
    if (spool->fd >= 0) close(spool->fd);
    spool->fd = -1;
    if (spool->heap != NULL) g_byte_array_unref(spool->heap);
    spool->heap = NULL;
    spool->size = 0;
}
