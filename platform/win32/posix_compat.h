// What the decoding library takes from POSIX and MinGW's runtime lacks. The Windows build
// includes this header ahead of every source of the library (-include).
#pragma once

#ifdef _WIN32

#include <fcntl.h>
#include <sys/types.h>

#include <cstddef>

// Descriptors that child processes do not inherit.
#ifndef O_CLOEXEC
#define O_CLOEXEC O_NOINHERIT
#endif

// Reads count bytes at offset without moving the descriptor's position, as POSIX pread does.
// Returns the bytes read, 0 at the end of the file, -1 with errno set on failure.
extern "C" ssize_t pread(int descriptor, void* buffer, size_t count, off_t offset);

// Function clones chosen at load time need the ELF loader's indirect functions, which
// Windows modules do not have: the hot loops are built once, for the baseline.
#if __has_include("decode/vector_clones.h")
#include "decode/vector_clones.h"
#undef KAVEL_VECTOR_CLONES
#define KAVEL_VECTOR_CLONES
#endif

#endif  // _WIN32
