/* The public header compiled as C99: a complete decode written in C. */
#include "kavel/kavel.h"

#include <stdlib.h>

#include "tests/capi/c_header_check.h"

int c_decode_whole(const char* path, unsigned char** pixels, size_t* size) {
    kavel_image* image = NULL;
    kavel_info info;
    kavel_window window;
    kavel_decode_options options;
    size_t stride;
    if (kavel_open_path(path, &image) != KAVEL_OK) return -1;
    if (kavel_get_info(image, &info) != KAVEL_OK) {
        kavel_close(image);
        return -1;
    }
    window.x0 = 0;
    window.y0 = 0;
    window.x1 = info.width - 1;
    window.y1 = info.height - 1;
    stride = (size_t)info.width * (size_t)info.planes;
    *size = stride * (size_t)info.height;
    *pixels = (unsigned char*)malloc(*size);
    options.struct_size = (uint32_t)sizeof options;
    options.threads = 2;
    if (*pixels == NULL || kavel_decode(image, 0, window, *pixels, stride, &options) != KAVEL_OK) {
        free(*pixels);
        *pixels = NULL;
        kavel_close(image);
        return -1;
    }
    kavel_close(image);
    return 0;
}
