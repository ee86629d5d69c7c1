#!/usr/bin/env bash
# The library as its users get it. Builds the library alone (a compiler and CMake, nothing
# else), installs it into a temporary prefix, builds a C program with pkg-config and a C++
# project with find_package(kavel) against that prefix, and checks that both decode windows
# from a path, from memory and from a reader to exactly the bytes of `kavel decode`. Then
# makes the Debian packages with cpack and, as root, installs them with apt-get and removes
# them again.
# Usage: scripts/check-install.sh BUILD_DIR   (a full build: its kavel tool is the reference)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
kavel="$build/tools/kavel"

echo "-- library alone"
cmake -S "$root" -B "$work/lib-build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKAVEL_LIBRARY_ONLY=ON \
    -DCMAKE_INSTALL_PREFIX="$work/prefix" > "$work/configure.log" 2>&1 || { cat "$work/configure.log"; exit 1; }
cmake --build "$work/lib-build" -j "$(nproc)" > "$work/build.log" 2>&1 || { cat "$work/build.log"; exit 1; }
cmake --install "$work/lib-build" --component runtime > /dev/null
cmake --install "$work/lib-build" --component dev > /dev/null
prefix="$work/prefix"
test -L "$prefix/lib/libkavel.so" -a -f "$prefix/lib/libkavel.so.1" -a -f "$prefix/lib/libkavel.a"
test -f "$prefix/include/kavel/kavel.h" -a -f "$prefix/include/kavel/kavel.hpp"

"$kavel" encode "$root/data/chelsea.png" "$work/colour.kvl" --quality 70 > /dev/null
"$kavel" encode "$root/data/camera.png" "$work/grey.kvl" --levels 3 > /dev/null

echo "-- a C program through pkg-config"
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# shellcheck disable=SC2046
cc -std=c99 -Wall -Wextra -Werror -o "$work/c_consumer" "$root/tests/install/c_consumer/main.c" \
    $(pkg-config --cflags --libs kavel)
echo "-- a C++ project through find_package(kavel)"
cmake -S "$root/tests/install/cpp_consumer" -B "$work/cpp-build" -G Ninja \
    -DCMAKE_PREFIX_PATH="$prefix" > "$work/cpp-configure.log" 2>&1 || { cat "$work/cpp-configure.log"; exit 1; }
cmake --build "$work/cpp-build" > "$work/cpp-build.log" 2>&1 || { cat "$work/cpp-build.log"; exit 1; }

check() {  # FILE SCALE X0 Y0 X1 Y1
    local file=$1 scale=$2 window="$3,$4,$5,$6"
    "$kavel" decode "$file" --scale "$scale" --window "$window" -o "$work/reference.raw" > /dev/null
    LD_LIBRARY_PATH="$prefix/lib" "$work/c_consumer" "$file" "$2" "$3" "$4" "$5" "$6" "$work/c" > /dev/null
    "$work/cpp-build/cpp_consumer" "$file" "$2" "$3" "$4" "$5" "$6" "$work/cpp"
    "$work/cpp-build/cpp_consumer_static" "$file" "$2" "$3" "$4" "$5" "$6" "$work/cpps"
    for out in c cpp cpps; do
        for kind in path memory reader; do
            cmp "$work/reference.raw" "$work/$out-$kind.raw" || {
                echo "FAIL: $out from $kind differs from kavel decode on $file $window at scale $scale"
                exit 1
            }
        done
    done
}
check "$work/colour.kvl" 0 100 50 300 260
check "$work/colour.kvl" 1 -10 -10 240 160
check "$work/grey.kvl" 2 0 0 127 127
check "$work/grey.kvl" 0 500 500 530 530
echo "-- consumers match kavel decode from a path, from memory and from a reader"

if [[ $(id -u) -eq 0 ]] && command -v apt-get > /dev/null; then
    echo "-- Debian packages"
    (cd "$build" && cpack -G DEB > "$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
    shopt -s nullglob
    debs=("$build"/libkavel1_*.deb "$build"/libkavel-dev_*.deb "$build"/kavel-tools_*.deb)
    (( ${#debs[@]} == 3 )) || { echo "FAIL: cpack made ${#debs[@]} of the 3 packages"; exit 1; }
    cp "${debs[@]}" "$work/"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$work"/*.deb > "$work/apt.log" 2>&1 ||
        { cat "$work/apt.log"; exit 1; }
    status=0
    /usr/bin/kavel info "$work/grey.kvl" > /dev/null || status=1
    /usr/bin/plugin-host list /usr/lib/kavel/plugins 2>&1 | grep -q KAVEL.8bi || status=1
    [[ $(pkg-config --modversion kavel) == 1.* ]] || status=1
    cc -std=c99 -o "$work/c_system" "$root/tests/install/c_consumer/main.c" $(pkg-config --cflags --libs kavel) || status=1
    "$work/c_system" "$work/grey.kvl" 0 0 0 63 63 "$work/sys" > /dev/null || status=1
    DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq libkavel1 libkavel-dev kavel-tools > /dev/null 2>&1
    (( status == 0 )) || { echo "FAIL: the installed packages do not work"; exit 1; }
    echo "-- libkavel1, libkavel-dev and kavel-tools install with apt-get and work"
fi
echo "install check passed"
