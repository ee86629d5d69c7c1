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
          zlib1g-dev pngcheck)
if [[ "${1:-}" == "--bench" ]]; then
    packages+=(libjpeg-turbo-progs libopenjp2-tools hyperfine imagemagick time netpbm strace)
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if (( ${#missing[@]} > 0 )); then
    echo "Installing: ${missing[*]}"
    sudo_cmd=""
    [[ $(id -u) -ne 0 ]] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
