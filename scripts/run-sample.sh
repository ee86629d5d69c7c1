#!/usr/bin/env bash
# The main job on the bundled sample: encode data/astronaut.png into a Kavel file, then decode
# the whole image at full size and a quarter-size view, and a 256 x 256 window, to PNG files
# in out/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release -DKAVEL_BUILD_TESTS=OFF -DKAVEL_BUILD_BENCH=OFF
kavel="$root/build/tools/kavel"
mkdir -p "$root/out"
sample="$root/out/astronaut.kvl"
"$kavel" encode "$root/data/astronaut.png" "$sample"
"$kavel" info "$sample"
"$kavel" decode "$sample" -o "$root/out/astronaut.png"
"$kavel" decode "$sample" --scale 2 -o "$root/out/astronaut-quarter.png"
"$kavel" decode "$sample" --window 128,128,383,383 -o "$root/out/astronaut-window.png"
echo "Wrote out/astronaut.png, out/astronaut-quarter.png and out/astronaut-window.png"
