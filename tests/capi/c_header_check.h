/* A decode written in C (c_header_check.c), so that the public header is compiled as C99. */
#ifndef KAVEL_TESTS_C_HEADER_CHECK_H
#define KAVEL_TESTS_C_HEADER_CHECK_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Decodes the whole image at path at full size with two threads into a new malloc'ed buffer;
 * 0 on success. */
int c_decode_whole(const char* path, unsigned char** pixels, size_t* size);

#ifdef __cplusplus
}
#endif

#endif
