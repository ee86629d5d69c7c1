#include "format/posix_compat_win32.h"

#include <errno.h>
#include <io.h>
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cstdint>

extern "C" ssize_t pread(int descriptor, void* buffer, size_t count, off_t offset) {
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    if (file == INVALID_HANDLE_VALUE || offset < 0) {
        errno = EBADF;
        return -1;
    }
    // A read at an offset moves a synchronous handle's position: the runtime's buffered
    // stream on the same descriptor must find it where it left it.
    LARGE_INTEGER zero{};
    LARGE_INTEGER position{};
    if (!SetFilePointerEx(file, zero, &position, FILE_CURRENT)) {
        errno = EIO;
        return -1;
    }
    OVERLAPPED at{};
    const auto start = static_cast<uint64_t>(offset);
    at.Offset = static_cast<DWORD>(start & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(start >> 32);
    const DWORD wanted = count > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(count);
    DWORD got = 0;
    const BOOL read = ReadFile(file, buffer, wanted, &got, &at);
    const DWORD error = read ? ERROR_SUCCESS : GetLastError();
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    if (!read) {
        if (error == ERROR_HANDLE_EOF) return 0;
        errno = EIO;
        return -1;
    }
    return static_cast<ssize_t>(got);
}
