#!/usr/bin/env bash
# Cross-builds KAVEL.8bi and plugin-host.exe for 32-bit x86 and 64-bit x86-64 Windows with
# MinGW-w64. Usage: scripts/build-windows.sh [BUILD_ROOT] [cmake options...]
# Results: BUILD_ROOT/x86/plugins/KAVEL.8bi, BUILD_ROOT/x86/plugin-host.exe, and the same
# under BUILD_ROOT/x64 (BUILD_ROOT defaults to build-windows). The build runs two small
# generators under Wine, in the prefix WINEPREFIX (default BUILD_ROOT/wine-prefix).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build-windows}
shift || true
mkdir -p "$out"
out=$(cd "$out" && pwd)
export WINEPREFIX=${WINEPREFIX:-$out/wine-prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
source "$root/scripts/wine-env.sh"
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "== Wine prefix $WINEPREFIX"
    "$wine" wineboot -i > "$out/wineboot.log" 2>&1
fi
# Where 32-bit programs cannot run, the 32-bit build takes the dither table that the 64-bit
# build's generator made, and runs the 64-bit build's resource script writer.
x86_options=()
if [[ $wine_x86 == 0 ]]; then
    echo "== This machine runs no 32-bit x86 programs: the 32-bit build takes the 64-bit build's" \
         "dither table and resource script writer"
    x86_options=(-DKAVEL_DITHER_TABLE="$out/x64/decode/dither_table.cpp"
                 -DKAVEL_RESOURCE_SCRIPT_WRITER="$out/x64/resource_script_writer.exe")
fi
for arch in x64 x86; do
    toolchain=$root/cmake/toolchains/mingw-i686.cmake
    options=("${x86_options[@]}")
    if [[ $arch == x64 ]]; then
        toolchain=$root/cmake/toolchains/mingw-x86_64.cmake
        options=()
    fi
    echo "== Windows $arch"
    cmake -S "$root" -B "$out/$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DKAVEL_WERROR=ON -DKAVEL_BUILD_TESTS=OFF \
        -DKAVEL_BUILD_TOOLS=OFF -DKAVEL_BUILD_BENCH=OFF -DKAVEL_WINE="$(command -v "$wine")" \
        "${options[@]}" "$@" > "$out/$arch.configure.log" 2>&1 || {
        cat "$out/$arch.configure.log"
        exit 1
    }
    cmake --build "$out/$arch" -j "${KAVEL_JOBS:-$(nproc)}" --target kavel_module plugin-host
    # The 32-bit build may run the 64-bit build's writer: it is built whatever the target needs.
    if [[ $arch == x64 ]]; then
        cmake --build "$out/$arch" --target resource_script_writer
    fi
done
