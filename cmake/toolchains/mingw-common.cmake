# Shared part of the MinGW-w64 toolchains: set KAVEL_MINGW_TRIPLET before including it.
# The POSIX threading flavour of the compilers: the library decodes on std::thread; its
# thread library (winpthreads) is linked in statically like the rest of the runtime.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${KAVEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KAVEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${KAVEL_MINGW_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KAVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs the build itself runs (the dither table generator) run under Wine.
find_program(KAVEL_WINE NAMES wine REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KAVEL_WINE})

# The C and C++ runtimes go into every module and program: what they import is system DLLs
# only (no libstdc++, libgcc or winpthread DLL beside them).
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
