#!/usr/bin/env bash
# Installs what the build, the tests and the tools need, from Debian's packages.
# Usage: scripts/install-deps.sh [--bench]   (--bench adds the peers the benchmarks compare with)
#        gimp/screenshot.sh also needs xvfb, openbox, xdotool and imagemagick.
set -euo pipefail

packages=(cmake ninja-build g++ clang libclang-rt-14-dev pkg-config
          libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
          qt6-base-dev libgl-dev
          libgdal-dev gdal-bin python3-gdal python3-rasterio
          python3-dev pybind11-dev python3-pybind11 python3-numpy python3-pil python3-pytest
          gimp libgimp2.0-dev  # the GIMP plug-in and its test in GIMP
          libgdk-pixbuf-2.0-dev libgdk-pixbuf2.0-bin shared-mime-info
          zlib1g-dev pngcheck
          g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 wine wine64
          xvfb xauth)  # the Windows module, tested under Wine
# Wine's 32-bit half runs the 32-bit Windows programs. It is installed where it can be: where
# the i386 packages cannot be (an index a mirror is still syncing, say), or where the kernel
# runs no 32-bit programs, the tests run the 64-bit programs and check the 32-bit files.
optional=(wine32:i386)
if [[ "${1:-}" == "--bench" ]]; then
    packages+=(libjpeg-turbo-progs libopenjp2-tools hyperfine imagemagick time netpbm strace)
fi

not_installed() {
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
    done
}
mapfile -t missing < <(not_installed "${packages[@]}")
mapfile -t missing_optional < <(not_installed "${optional[@]}")
(( ${#missing[@]} + ${#missing_optional[@]} > 0 )) || exit 0

sudo_cmd=""
[[ $(id -u) -ne 0 ]] && sudo_cmd="sudo"
apt_install() { DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "$@"; }
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo_cmd dpkg --add-architecture i386
fi
# A mirror caught mid-sync fails an index now and then: fetch again after a pause, and go on
# with what was fetched if it still fails (the install says if a package cannot be had). Only
# the packages that must be had are worth waiting for.
attempts=1
(( ${#missing[@]} > 0 )) && attempts=3
for (( attempt = 1; attempt <= attempts; ++attempt )); do
    $sudo_cmd apt-get update -qq && break
    echo "install-deps: apt-get update failed (attempt $attempt of $attempts)" >&2
    if (( attempt < attempts )); then sleep 15; fi
done
if (( ${#missing[@]} > 0 )); then
    echo "Installing: ${missing[*]}"
    apt_install "${missing[@]}"
fi
if (( ${#missing_optional[@]} > 0 )); then
    echo "Installing if possible: ${missing_optional[*]}"
    apt_install "${missing_optional[@]}" ||
        echo "install-deps: ${missing_optional[*]} could not be installed; 32-bit Windows programs will not be run" >&2
fi
