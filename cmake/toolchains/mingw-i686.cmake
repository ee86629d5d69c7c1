# 32-bit x86 Windows with MinGW-w64 (Debian's g++-mingw-w64-i686).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KAVEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
# SSE2 arithmetic, as on x86-64: the x87 unit would keep intermediate values in 80 bits and
# round differently from the other builds.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
