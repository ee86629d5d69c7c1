// What the decoding library takes from POSIX and MinGW's runtime lacks. Windows builds only:
// they include this header ahead of every source of the library (-include).
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

#endif  // _WIN32
