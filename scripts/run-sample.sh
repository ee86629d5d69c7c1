#!/usr/bin/env bash
# The main job on the bundled sample: encode data/hubble_deep_field.png into a Kavel file,
# open it through the plug-in module KAVEL.8bi as the image editor would (plugin-host loads the
# module, runs its viewer dialog and writes the region it delivers), and decode it with the
# kavel tool. Results go to out/. Without a display the viewer dialog is confirmed with its
# initial values at once (1:4, the crop cut to the image).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/install-deps.sh"
"$root/scripts/build.sh" "$root/build" -DCMAKE_BUILD_TYPE=Release -DKAVEL_BUILD_TESTS=OFF -DKAVEL_BUILD_BENCH=OFF
kavel="$root/build/tools/kavel"
mkdir -p "$root/out"
sample="$root/out/hubble_deep_field.kvl"
"$kavel" encode "$root/data/hubble_deep_field.png" "$sample"
"$kavel" info "$sample"

answer=()
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    answer=(--accept)
fi
"$root/build/host/plugin-host" open "$sample" -o "$root/out/hubble-plugin.png" "${answer[@]}"

"$kavel" decode "$sample" -o "$root/out/hubble.png"
"$kavel" decode "$sample" --scale 2 -o "$root/out/hubble-quarter.png"
"$kavel" decode "$sample" --window 372,308,627,563 -o "$root/out/hubble-window.png"
echo "Wrote out/hubble-plugin.png (through the plug-in), out/hubble.png, out/hubble-quarter.png and out/hubble-window.png"
