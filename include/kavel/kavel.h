/* libkavel: decode any window of a Kavel image at any scale 1:2^s.
 *
 *   kavel_image* image = NULL;
 *   if (kavel_open_path("photo.kvl", &image) != KAVEL_OK) {
 *       fprintf(stderr, "%s\n", kavel_last_error());
 *       return 1;
 *   }
 *   kavel_info info;
 *   kavel_get_info(image, &info);
 *   kavel_window window = {1000, 1000, 1255, 1255};           inclusive, pixels at the scale
 *   uint8_t* pixels = malloc(256 * 256 * info.planes);
 *   kavel_decode(image, 0, window, pixels, 256 * info.planes, NULL);
 *   kavel_close(image);
 *
 * Pixels are 8-bit, planes interleaved (1 grey, 3 red-green-blue), rows `stride` bytes apart;
 * the bytes between one row's end and the next row's start are left alone. Windows are
 * inclusive (x0..x1, y0..y1) in pixels of the image at the chosen scale; they may reach beyond
 * the image, whose outside decodes as 0. A failed decode leaves the buffer as it was. One image
 * may be decoded from several threads at once.
 *
 * An image keeps reading the source it was opened with: a path is opened once and its
 * descriptor held until kavel_close (a file moved over the same name later is not read). Every
 * decode checks that the source still holds the header it was opened with, and fails with
 * KAVEL_ERROR_SOURCE_CHANGED (the buffer untouched) when it does not.
 *
 * Valid C99 and C++. Every exported name begins with kavel_ (types) or KAVEL_ (constants).
 */
#ifndef KAVEL_KAVEL_H
#define KAVEL_KAVEL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(KAVEL_BUILDING_SHARED)
#    define KAVEL_API __declspec(dllexport)
#  else
#    define KAVEL_API
#  endif
#elif defined(__GNUC__)
#  define KAVEL_API __attribute__((visibility("default")))
#else
#  define KAVEL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

#define KAVEL_VERSION_MAJOR 1
#define KAVEL_VERSION_MINOR 0
#define KAVEL_VERSION_PATCH 0

/* Why a call failed. KAVEL_OK is 0; every failure is non-zero. */
typedef enum kavel_status {
    KAVEL_OK = 0,
    KAVEL_ERROR_IO = 1,             /* the source could not be opened or read */
    KAVEL_ERROR_NOT_KAVEL = 2,      /* no "kvel" magic at offset 0 */
    KAVEL_ERROR_BAD_HEADER = 3,     /* the header describes no image */
    KAVEL_ERROR_DAMAGED = 4,        /* the file's structures or coded data are damaged */
    KAVEL_ERROR_OUT_OF_MEMORY = 5,  /* an allocation failed or the memory limit was reached */
    KAVEL_ERROR_LIMIT = 6,          /* over the work or pixel limit set on the image */
    KAVEL_ERROR_ARGUMENT = 7,       /* a bad argument: null pointer, scale, window, stride */
    KAVEL_ERROR_SOURCE_CHANGED = 8  /* the source no longer holds the header it was opened with */
} kavel_status;

/* An opened image. Opaque; closed with kavel_close. */
typedef struct kavel_image kavel_image;

/* The image's header. */
typedef struct kavel_info {
    int32_t planes; /* 1 grey, 3 colour (the format allows up to 255) */
    int32_t levels; /* scales 0..levels */
    int32_t width;  /* at full resolution (scale 0) */
    int32_t height;
} kavel_info;

/* An inclusive rectangle in pixels of the image at some scale. */
typedef struct kavel_window {
    int32_t x0, y0, x1, y1;
} kavel_window;

/* A caller's byte source. read_at reads up to length bytes at offset into buffer and returns
 * how many it read (fewer only at the end of the source) or -1 on failure. An image decoded
 * from several threads at once calls read_at from those threads at once.
 * read_ranges (optional, may be NULL) reads several ranges in one call (for readers where a
 * request is costly, such as HTTP): each range must be read whole; returns 0 on success,
 * -1 on failure. Before a window is decoded, the library hands it the ranges of each step of
 * the decode at once (header, tile directories, tile-stream headers, block offsets, blocks:
 * at most six calls), sorted, apart from one another and within the source; where a call
 * fails, the rest is read with read_at. close (optional) is called exactly once: by kavel_close, or by
 * kavel_open_reader itself when opening fails (except for a NULL reader or read_at, which are
 * refused before the reader is taken). */
typedef struct kavel_reader {
    void* context;
    int64_t (*read_at)(void* context, uint64_t offset, void* buffer, size_t length);
    uint64_t size; /* total size of the source in bytes */
    int (*read_ranges)(void* context, size_t count, const uint64_t* offsets,
                       const size_t* lengths, void* const* buffers);
    void (*close)(void* context);
} kavel_reader;

/* Limits set per image. Zero in a field means "no limit" for max_pixels and "the default"
 * for the other two. */
typedef struct kavel_limits {
    uint64_t memory;    /* bytes a single decode may hold at once (default 4 GiB); besides,
                         * a source read by copy keeps up to 4 MiB of the file's bytes it
                         * has read for each thread of the decode */
    double work_factor; /* work allowed per decode, in multiples of the bytes read (default 16) */
    uint64_t max_pixels; /* largest window one kavel_decode may ask for (default: none) */
} kavel_limits;

/* Options of one decode; NULL means the defaults (one thread). */
typedef struct kavel_decode_options {
    uint32_t struct_size; /* sizeof(kavel_decode_options), for later additions */
    int32_t threads;      /* threads for this window: 0 or 1 = the calling thread only */
} kavel_decode_options;

/* Library version as "1.0.0". */
KAVEL_API const char* kavel_version(void);

/* The last failure's message on the calling thread, naming the reason and the place
 * (for example "tile directory of subband 5 at offset 1234: 99999 records do not fit in the
 * file"); "" when no call of this thread has failed. Valid until the thread's next call. */
KAVEL_API const char* kavel_last_error(void);

/* A short name of a status ("damaged data", ...). */
KAVEL_API const char* kavel_status_string(kavel_status status);

/* Opening reads and checks the header. On failure *image is set to NULL. */
KAVEL_API kavel_status kavel_open_path(const char* path, kavel_image** image);
/* data is not copied: it must stay valid and unchanged until kavel_close. */
KAVEL_API kavel_status kavel_open_memory(const void* data, size_t size, kavel_image** image);
/* The reader is copied; its context must stay valid until kavel_close (which calls close). */
KAVEL_API kavel_status kavel_open_reader(const kavel_reader* reader, kavel_image** image);
/* Closes the image and its source. NULL is ignored. */
KAVEL_API void kavel_close(kavel_image* image);

KAVEL_API kavel_status kavel_get_info(const kavel_image* image, kavel_info* info);
/* Width and height at a scale: ceil(size / 2^scale); scale 0..levels. */
KAVEL_API kavel_status kavel_size_at(const kavel_image* image, int32_t scale, int32_t* width,
                                     int32_t* height);
/* The coarsest scale (largest s) whose size is at least width x height, or 0 when even the full
 * image is smaller. What thumbnailers and resampling readers decode. */
KAVEL_API int32_t kavel_scale_for_size(const kavel_image* image, int32_t width, int32_t height);

KAVEL_API void kavel_default_limits(kavel_limits* limits);
KAVEL_API kavel_status kavel_get_limits(const kavel_image* image, kavel_limits* limits);
/* Set before decoding; not while another thread decodes the image. */
KAVEL_API kavel_status kavel_set_limits(kavel_image* image, const kavel_limits* limits);

/* Decodes window at scale into buffer: rows of planes x columns bytes, stride bytes apart
 * (stride >= planes x columns); the buffer holds (rows - 1) x stride + planes x columns bytes.
 * On failure returns the reason and leaves the buffer as it was. Large windows are decoded in
 * pieces of a few million samples, so the decoder's working memory stays a few tens of
 * megabytes whatever the window's shape (besides the decoded pieces themselves, kept until
 * every piece has succeeded: the buffer is written only then). The same bytes whatever the
 * thread count. */
KAVEL_API kavel_status kavel_decode(kavel_image* image, int32_t scale, kavel_window window,
                                    uint8_t* buffer, size_t stride,
                                    const kavel_decode_options* options);

#ifdef __cplusplus
}
#endif

#endif /* KAVEL_KAVEL_H */
