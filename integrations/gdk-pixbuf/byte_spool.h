/* Bytes fed to the loader piece by piece, held until the whole file has arrived.
 *
 * They go to an anonymous memory file (memfd) where the system has one: a large file's bytes then
 * stay out of the process's heap, and once mapped for decoding only the pages the decoder reads
 * are ever brought into the process (a thumbnail of a 50 MB file reads a few hundred kilobytes).
 * Elsewhere they go to a growing heap buffer. */
#ifndef KAVEL_PIXBUF_BYTE_SPOOL_H
#define KAVEL_PIXBUF_BYTE_SPOOL_H

#include <glib.h>

typedef struct ByteSpool {
    int fd;           /* the memory file, or -1 when the bytes are in heap */
    GByteArray* heap; /* the bytes when there is no memory file */
    gsize size;       /* bytes appended so far */
    void* map;        /* the memory file mapped by byte_spool_view, or NULL */
} ByteSpool;

/* Reads up to length bytes at offset of the file fd (pread, retried when interrupted) and returns
 * how many it read, fewer only at the end of the file, or -1 on failure. */
gint64 read_descriptor_at(int fd, guint64 offset, void* buffer, gsize length);

/* An empty spool. FALSE (with error set) only when no buffer can be made at all. */
gboolean byte_spool_init(ByteSpool* spool, GError** error);

/* Appends length bytes. FALSE (with error set) when they cannot be stored; the spool is then
 * as it was. */
gboolean byte_spool_append(ByteSpool* spool, const guint8* bytes, gsize length, GError** error);

/* Copies length bytes at offset of those appended so far. FALSE when they are not all there or
 * cannot be read. */
gboolean byte_spool_read_at(const ByteSpool* spool, gsize offset, guint8* buffer, gsize length);

/* All bytes appended so far, readable until byte_spool_clear (append no more after this).
 * An empty spool gives data NULL and size 0. FALSE (with error set) when they cannot be mapped. */
gboolean byte_spool_view(ByteSpool* spool, const guint8** data, gsize* size, GError** error);

/* Releases the bytes; the spool may be cleared twice. */
void byte_spool_clear(ByteSpool* spool);

#endif
