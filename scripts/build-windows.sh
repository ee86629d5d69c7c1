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
if [[ ! -f "$WINEPREFIX/system.reg" ]]; then
    echo "== Wine prefix $WINEPREFIX"
    wineboot -i > "$out/wineboot.log" 2>&1
fi
for arch in x86 x64; do
    toolchain=$root/cmake/toolchains/mingw-i686.cmake
    [[ $arch == x64 ]] && toolchain=$root/cmake/toolchains/mingw-x86_64.cmake
    echo "== Windows $arch"
    cmake -S "$root" -B "$out/$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DKAVEL_WERROR=ON -DKAVEL_BUILD_TESTS=OFF \
        -DKAVEL_BUILD_TOOLS=OFF -DKAVEL_BUILD_BENCH=OFF "$@" > "$out/$arch.configure.log" 2>&1 || {
        cat "$out/$arch.configure.log"
        exit 1
    }
    cmake --build "$out/$arch" -j "${KAVEL_JOBS:-$(nproc)}" --target kavel_module plugin-host
done
